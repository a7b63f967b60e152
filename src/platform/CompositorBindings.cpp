#include "platform/CompositorBindings.h"

#include "platform/KeyEncodings.h"
#include "platform/KeyboardLayout.h"

#include <QRegularExpression>
#include <QStringList>

#include <xkbcommon/xkbcommon.h>

namespace Platform {

namespace {

// The syntaxes, as indices into the tables below.
enum Syntax { Sway, Hyprland, River, Labwc, Wayfire };

Syntax syntaxOf(Compositor compositor)
{
    switch (compositor) {
    case Compositor::Hyprland:
        return Hyprland;
    case Compositor::River:
        return River;
    case Compositor::Labwc:
        return Labwc;
    case Compositor::Wayfire:
        return Wayfire;
    case Compositor::Unknown:
    case Compositor::Sway:
        break;
    }
    return Sway;
}

// The modifiers with a counterpart here, mapped as everywhere on Linux in this program (Command is
// the Control key, Control the Super key, Option Alt), in the order the lines write them.
struct ModifierNames {
    qint64 carbon;
    const char *names[5]; // by Syntax
};
constexpr ModifierNames modifierNames[] = {
    {CarbonModifier::command, {"Ctrl", "CTRL", "Control", "C", "<ctrl>"}},
    {CarbonModifier::option, {"Mod1", "ALT", "Alt", "A", "<alt>"}},
    {CarbonModifier::shift, {"Shift", "SHIFT", "Shift", "S", "<shift>"}},
    {CarbonModifier::control, {"Mod4", "SUPER", "Super", "W", "<super>"}},
};

// Keys whose symbol is not the character the layout types there (the keypad types digits,
// Backspace types DEL) or that type none, by xkbcommon's keysym names.
struct NamedKey {
    quint16 macKeyCode;
    const char *keysym;
};
// clang-format off
constexpr NamedKey namedKeys[] = {
    {MacKeyCode::returnKey, "Return"}, {MacKeyCode::tab, "Tab"}, {MacKeyCode::space, "space"},
    {MacKeyCode::deleteKey, "BackSpace"}, {MacKeyCode::escape, "Escape"}, {MacKeyCode::help, "Insert"},
    {MacKeyCode::deleteForward, "Delete"}, {MacKeyCode::home, "Home"}, {MacKeyCode::end, "End"},
    {MacKeyCode::pageUp, "Prior"}, {MacKeyCode::pageDown, "Next"}, {MacKeyCode::leftArrow, "Left"},
    {MacKeyCode::rightArrow, "Right"}, {MacKeyCode::downArrow, "Down"}, {MacKeyCode::upArrow, "Up"},
    {MacKeyCode::f1, "F1"}, {MacKeyCode::f2, "F2"}, {MacKeyCode::f3, "F3"}, {MacKeyCode::f4, "F4"},
    {MacKeyCode::f5, "F5"}, {MacKeyCode::f6, "F6"}, {MacKeyCode::f7, "F7"}, {MacKeyCode::f8, "F8"},
    {MacKeyCode::f9, "F9"}, {MacKeyCode::f10, "F10"}, {MacKeyCode::f11, "F11"}, {MacKeyCode::f12, "F12"},
    {MacKeyCode::f13, "F13"}, {MacKeyCode::f14, "F14"}, {MacKeyCode::f15, "F15"}, {MacKeyCode::f16, "F16"},
    {MacKeyCode::f17, "F17"}, {MacKeyCode::f18, "F18"}, {MacKeyCode::f19, "F19"}, {MacKeyCode::f20, "F20"},
    {MacKeyCode::keypad0, "KP_0"}, {MacKeyCode::keypad1, "KP_1"}, {MacKeyCode::keypad2, "KP_2"},
    {MacKeyCode::keypad3, "KP_3"}, {MacKeyCode::keypad4, "KP_4"}, {MacKeyCode::keypad5, "KP_5"},
    {MacKeyCode::keypad6, "KP_6"}, {MacKeyCode::keypad7, "KP_7"}, {MacKeyCode::keypad8, "KP_8"},
    {MacKeyCode::keypad9, "KP_9"}, {MacKeyCode::keypadDecimal, "KP_Decimal"},
    {MacKeyCode::keypadMultiply, "KP_Multiply"}, {MacKeyCode::keypadPlus, "KP_Add"},
    {MacKeyCode::keypadMinus, "KP_Subtract"}, {MacKeyCode::keypadDivide, "KP_Divide"},
    {MacKeyCode::keypadEquals, "KP_Equal"}, {MacKeyCode::keypadEnter, "KP_Enter"},
    {MacKeyCode::keypadClear, "Num_Lock"}, {MacKeyCode::volumeUp, "XF86AudioRaiseVolume"},
    {MacKeyCode::volumeDown, "XF86AudioLowerVolume"}, {MacKeyCode::mute, "XF86AudioMute"},
};
// clang-format on

// The key by the symbol that `layout` types there, as xkbcommon names keysyms; empty without one.
QString keysymName(qint64 macKeyCode, const KeyboardLayout *layout)
{
    for (const NamedKey &key : namedKeys) {
        if (key.macKeyCode == macKeyCode)
            return QLatin1String(key.keysym);
    }
    if (!layout || macKeyCode < 0 || macKeyCode > 0xFFFF)
        return {};
    const QList<uint> characters = layout->unshiftedCharacters(quint16(macKeyCode)).toUcs4();
    const xkb_keysym_t keysym = characters.size() == 1 ? xkb_utf32_to_keysym(characters[0]) : 0;
    char name[64];
    const int length = keysym ? xkb_keysym_get_name(keysym, name, sizeof name) : 0;
    return length > 0 && size_t(length) < sizeof name ? QString::fromLatin1(name, length) : QString();
}

// The key as `syntax` names it: sway's by the X keycode, so that the binding follows the key's
// position whichever layout is active, as the shortcut does (sway matches keysyms on the active
// layout only), and as Tarnwick's own bindings over sway's IPC do; Wayfire's by the kernel's name.
QString keyName(Syntax syntax, qint64 macKeyCode, const KeyboardLayout *layout)
{
    const std::optional<quint16> evdev = evdevCodeForMacKeyCode(macKeyCode);
    if (syntax == Sway)
        return evdev ? QString::number(*evdev + 8) : QString();
    if (syntax == Wayfire)
        return evdev ? evdevKeyName(*evdev) : QString();
    QString name = keysymName(macKeyCode, layout);
    // Hyprland's and river's documentation write letter keys in capitals; both read either.
    if ((syntax == Hyprland || syntax == River) && name.size() == 1 && name[0].isLower())
        name = name.toUpper();
    return name;
}

QString commentLine(Syntax syntax, const QString &text)
{
    return syntax == Labwc ? QStringLiteral("<!-- ") + text + QStringLiteral(" -->")
                           : QStringLiteral("# ") + text;
}

QString bindingLine(Syntax syntax, const CommandShortcuts::Binding &binding, const KeyboardLayout *layout)
{
    if (binding.carbonModifiers & CarbonModifier::function)
        return commentLine(syntax,
            binding.name
                + QStringLiteral(": cannot be bound, the Fn key has no counterpart here; record the "
                                 "shortcut without it."));
    const QString key = keyName(syntax, binding.carbonKeyCode, layout);
    if (key.isEmpty())
        return commentLine(syntax,
            binding.name
                + QStringLiteral(": cannot be bound, its key has no name here; record the shortcut "
                                 "with another key."));
    QStringList modifiers;
    for (const ModifierNames &modifier : modifierNames) {
        if (binding.carbonModifiers & modifier.carbon)
            modifiers.append(QLatin1String(modifier.names[syntax]));
    }
    QString command = binding.command;
    switch (syntax) {
    case Sway:
        // sway keeps the quotes for sh, but reads "\\" as "\" and puts its variables in for
        // "$name" even inside quotes; it leaves "\$" alone, which sh reads as "$" outside quotes
        // (the command is single-quoted wherever it has a "$").
        return QStringLiteral("bindcode --release %1 exec %2")
            .arg((modifiers << key).join(QLatin1Char('+')),
                command.replace(QLatin1Char('\\'), QStringLiteral("\\\\"))
                    .replace(QLatin1Char('$'), QStringLiteral("'\\$'")));
    case Hyprland:
        // sh runs the command; in hyprland.conf "#" starts a comment and "##" is a literal one.
        return QStringLiteral("bindr = %1, %2, exec, %3")
            .arg(modifiers.join(QLatin1Char(' ')), key,
                command.replace(QLatin1Char('#'), QStringLiteral("##")));
    case River:
        // The init script is a shell script, and river runs the spawned command with sh again.
        return QStringLiteral("riverctl map -release normal %1 %2 spawn %3")
            .arg(modifiers.isEmpty() ? QStringLiteral("None") : modifiers.join(QLatin1Char('+')), key,
                shellWord(command));
    case Labwc:
        // labwc splits the command as a shell would, without one; rc.xml is XML.
        return QStringLiteral("<keybind key=\"%1\" onRelease=\"yes\"><action name=\"Execute\" "
                              "command=\"%2\"/></keybind>")
            .arg((modifiers << key).join(QLatin1Char('-')), command.toHtmlEscaped());
    case Wayfire:
        // Wayfire's command bindings have no release form: this one runs on the press, so the run
        // starts while the keys are still held. In wayfire.ini "#" starts a comment and "\#" is a
        // literal one; sh runs the command.
        return QStringLiteral("binding_tarnwick_%1 = %2\ncommand_tarnwick_%1 = %3")
            .arg(binding.id, (modifiers << key).join(QLatin1Char(' ')),
                command.replace(QLatin1Char('#'), QStringLiteral("\\#")));
    }
    return {};
}

} // namespace

QString shellWord(QString text)
{
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9/._+-]"));
    if (!text.isEmpty() && !text.contains(unsafe))
        return text;
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
}

QString compositorName(Compositor compositor)
{
    switch (compositor) {
    case Compositor::Unknown:
        return QStringLiteral("unknown");
    case Compositor::Sway:
        return QStringLiteral("sway");
    case Compositor::Hyprland:
        return QStringLiteral("Hyprland");
    case Compositor::River:
        return QStringLiteral("river");
    case Compositor::Labwc:
        return QStringLiteral("labwc");
    case Compositor::Wayfire:
        return QStringLiteral("Wayfire");
    }
    return {};
}

QString compositorConfigurationPlace(Compositor compositor)
{
    switch (syntaxOf(compositor)) {
    case Sway:
        return QStringLiteral("~/.config/sway/config");
    case Hyprland:
        return QStringLiteral("~/.config/hypr/hyprland.conf");
    case River:
        return QStringLiteral("~/.config/river/init");
    case Labwc:
        return QStringLiteral("~/.config/labwc/rc.xml, inside <keyboard>");
    case Wayfire:
        return QStringLiteral("~/.config/wayfire.ini, in the [command] section");
    }
    return {};
}

QString compositorBindingLines(
    Compositor compositor, const QList<CommandShortcuts::Binding> &bindings, const KeyboardLayout *layout)
{
    QStringList lines;
    for (const CommandShortcuts::Binding &binding : bindings)
        lines.append(bindingLine(syntaxOf(compositor), binding, layout));
    return lines.join(QLatin1Char('\n'));
}

} // namespace Platform
