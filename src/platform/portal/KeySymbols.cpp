#include "platform/portal/KeySymbols.h"

#include "platform/KeyEncodings.h"
#include "platform/x11/KeyCodeMap.h"

#include <QList>

#include <array>
#include <memory>

#include <xkbcommon/xkbcommon.h>

namespace Platform::Portal {

namespace {

// Carbon modifier bits and AppKit flags, with their names in both notations and the keysym of
// the key that makes them (XK_Control_L, XK_Alt_L, XK_Shift_L, XK_Super_L), in the order both
// notations write them by convention (neither parser minds the order).
struct Modifier {
    qint64 carbon;
    quint64 appKit;
    const char *portal;
    const char *gtk;
    quint32 keysym;
};
constexpr std::array<Modifier, 4> modifiers {{
    {CarbonModifier::command, AppKitModifier::command, "CTRL", "<Control>", 0xffe3},
    {CarbonModifier::option, AppKitModifier::option, "ALT", "<Alt>", 0xffe9},
    {CarbonModifier::shift, AppKitModifier::shift, "SHIFT", "<Shift>", 0xffe1},
    {CarbonModifier::control, AppKitModifier::control, "LOGO", "<Super>", 0xffeb},
}};
constexpr qint64 carbonModifierMask
    = CarbonModifier::command | CarbonModifier::shift | CarbonModifier::option | CarbonModifier::control;

struct KeymapDeleter {
    void operator()(xkb_keymap *keymap) const { xkb_keymap_unref(keymap); }
};

// The US layout, made once: its symbols do not depend on the user's layout or on a display.
xkb_keymap *usKeymap()
{
    static const std::unique_ptr<xkb_keymap, KeymapDeleter> keymap = [] {
        xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
        const xkb_rule_names names {"evdev", "pc105", "us", "", ""};
        xkb_keymap *made
            = context ? xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
        xkb_context_unref(context);
        return std::unique_ptr<xkb_keymap, KeymapDeleter>(made);
    }();
    return keymap.get();
}

// The keysym of the key at `macKeyCode`'s position on the US layout, digits and punctuation too.
std::optional<quint32> usKeysym(qint64 macKeyCode)
{
    const std::optional<quint8> keycode = X11::xKeycodeForMacKeyCode(macKeyCode);
    xkb_keymap *keymap = usKeymap();
    if (!keycode || !keymap)
        return std::nullopt;
    const xkb_keysym_t *symbols = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap, *keycode, 0, 0, &symbols) < 1)
        return std::nullopt;
    return quint32(symbols[0]);
}

std::optional<QString> joined(qint64 carbonKeyCode, qint64 carbonModifiers, bool portalNotation)
{
    if (carbonModifiers & ~carbonModifierMask)
        return std::nullopt;
    const std::optional<quint32> keysym = usKeysym(carbonKeyCode);
    const QString key = keysym ? keysymName(*keysym) : QString();
    if (key.isEmpty())
        return std::nullopt;
    QString text;
    for (const Modifier &modifier : modifiers) {
        if (carbonModifiers & modifier.carbon) {
            text += QLatin1String(portalNotation ? modifier.portal : modifier.gtk);
            if (portalNotation)
                text += QLatin1Char('+');
        }
    }
    return text + key;
}

} // namespace

QString keysymName(quint32 keysym)
{
    char name[64];
    const int length = xkb_keysym_get_name(keysym, name, sizeof name);
    if (length <= 0 || size_t(length) >= sizeof name)
        return {};
    return QString::fromLatin1(name, length);
}

QList<quint32> modifierKeysyms(quint64 flags)
{
    QList<quint32> keysyms;
    for (const Modifier &modifier : modifiers) {
        if (flags & modifier.appKit)
            keysyms.append(modifier.keysym);
    }
    return keysyms;
}

std::optional<QString> portalTrigger(qint64 carbonKeyCode, qint64 carbonModifiers)
{
    return joined(carbonKeyCode, carbonModifiers, true);
}

std::optional<QString> gtkAccelerator(qint64 carbonKeyCode, qint64 carbonModifiers)
{
    return joined(carbonKeyCode, carbonModifiers, false);
}

} // namespace Platform::Portal
