// The configuration lines that bind our shortcuts in each wlroots compositor's own syntax.
#include "platform/CompositorBindings.h"
#include "platform/KeyEncodings.h"
#include "platform/fake/FakeKeyboardLayout.h"

#include <QTest>

using Platform::Compositor;
namespace Key = Platform::MacKeyCode;
namespace Mod = Platform::CarbonModifier;

class TestCompositorBindings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void lines_data()
    {
        QTest::addColumn<Compositor>("compositor");
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("typed"); // what the layout types at keyCode, when not the US key
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("expected");
        const QString fix = QStringLiteral("tarnwick --trigger fix");
        const int commandShift = int(Mod::command | Mod::shift);
        const auto row = [](const char *name, Compositor compositor, int keyCode, int modifiers,
                             const QString &typed, const QString &command, const QString &expected) {
            QTest::newRow(name) << compositor << keyCode << modifiers << typed << command << expected;
        };
        row("sway by the key's X keycode, a path with a quote and a $", Compositor::Sway, Key::e,
            commandShift, QStringLiteral("е"), QStringLiteral("'/opt/it'\\''s $x/tarnwick' --trigger fix"),
            QStringLiteral(
                "bindcode --release Ctrl+Shift+26 exec '/opt/it'\\\\''s '\\$'x/tarnwick' --trigger fix"));
        row("unknown: sway's syntax; Control, Option, a function key", Compositor::Unknown, Key::f5,
            Mod::control | Mod::option, {}, fix,
            QStringLiteral("bindcode --release Mod1+Mod4+71 exec ") + fix);
        row("Hyprland", Compositor::Hyprland, Key::e, commandShift, {}, fix,
            QStringLiteral("bindr = CTRL SHIFT, E, exec, ") + fix);
        row("Hyprland, a Russian layout names the key by its letter", Compositor::Hyprland, Key::e,
            Mod::command | Mod::option, QStringLiteral("е"), fix,
            QStringLiteral("bindr = CTRL ALT, Cyrillic_ie, exec, ") + fix);
        row("Hyprland, a keypad key, no modifier, # in the path", Compositor::Hyprland, Key::keypad1, 0, {},
            QStringLiteral("'/a#b/tarnwick' --trigger fix"),
            QStringLiteral("bindr = , KP_1, exec, '/a##b/tarnwick' --trigger fix"));
        row("river", Compositor::River, Key::e, commandShift, {}, fix,
            QStringLiteral("riverctl map -release normal Control+Shift E spawn 'tarnwick --trigger fix'"));
        row("river, no modifier, a path with spaces and a quote", Compositor::River, Key::returnKey, 0, {},
            QStringLiteral("'/my app/it'\\''s/tarnwick' --trigger fix"),
            QStringLiteral("riverctl map -release normal None Return spawn "
                           "''\\''/my app/it'\\''\\'\\'''\\''s/tarnwick'\\'' --trigger fix'"));
        row("labwc, Dvorak, a path hostile to XML", Compositor::Labwc, Key::e, Mod::control | Mod::command,
            QStringLiteral("."), QStringLiteral("'/R&D <\"x\">/tarnwick' --trigger fix"),
            QStringLiteral(
                "<keybind key=\"C-W-period\" onRelease=\"yes\"><action name=\"Execute\" "
                "command=\"'/R&amp;D &lt;&quot;x&quot;&gt;/tarnwick' --trigger fix\"/></keybind>"));
        row("labwc, Fn refused in an XML comment", Compositor::Labwc, Key::e, Mod::function, {}, fix,
            QStringLiteral("<!-- Tarnwick: Fix text: cannot be bound, the Fn key has no counterpart here; "
                           "record the shortcut without it. -->"));
        row("Wayfire by the kernel's key name, whatever the layout", Compositor::Wayfire, Key::e,
            int(Mod::all & ~Mod::function), QStringLiteral("е"),
            QStringLiteral("'/a #b/tarnwick' --trigger fix"),
            QStringLiteral("binding_tarnwick_fix = <ctrl> <alt> <shift> <super> KEY_E\n"
                           "command_tarnwick_fix = '/a \\#b/tarnwick' --trigger fix"));
    }
    void lines()
    {
        QFETCH(Compositor, compositor);
        QFETCH(int, keyCode);
        QFETCH(int, modifiers);
        QFETCH(QString, typed);
        QFETCH(QString, command);
        QFETCH(QString, expected);
        Platform::FakeKeyboardLayout layout;
        if (!typed.isEmpty())
            layout.setCharacters(quint16(keyCode), typed);
        const Platform::CommandShortcuts::Binding binding {
            QStringLiteral("fix"), QStringLiteral("Tarnwick: Fix text"), command, keyCode, modifiers};
        QCOMPARE(Platform::compositorBindingLines(compositor, {binding}, &layout), expected);
        // Each binding in turn, one per line; without a layout, keys named by symbol are not named.
        const Platform::CommandShortcuts::Binding formal {QStringLiteral("formal"),
            QStringLiteral("Tarnwick: Make formal"), QStringLiteral("tarnwick --trigger formal"), Key::e,
            Mod::command};
        const QString both = Platform::compositorBindingLines(compositor, {binding, formal}, nullptr);
        QCOMPARE(both.count(QLatin1Char('\n')), expected.count(QLatin1Char('\n')) * 2 + 1);
        QCOMPARE(both.section(QLatin1Char('\n'), -1).contains(QLatin1String("cannot be bound")),
            compositor == Compositor::Hyprland || compositor == Compositor::River
                || compositor == Compositor::Labwc);
    }
};

QTEST_GUILESS_MAIN(TestCompositorBindings)
#include "tst_compositorbindings.moc"
