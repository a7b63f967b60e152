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
        QTest::newRow("sway by the key's X keycode, a path with a quote and a $")
            << Compositor::Sway << int(Key::e) << commandShift << QStringLiteral("е")
            << "'/opt/it'\\''s $x/tarnwick' --trigger fix"
            << "bindcode --release Ctrl+Shift+26 exec '/opt/it'\\\\''s '\\$'x/tarnwick' --trigger fix";
        QTest::newRow("unknown: sway's syntax, Control and Option, a function key")
            << Compositor::Unknown << int(Key::f5) << int(Mod::control | Mod::option) << QString() << fix
            << "bindcode --release Mod1+Mod4+71 exec tarnwick --trigger fix";
        QTest::newRow("sway, Fn refused")
            << Compositor::Sway << int(Key::e) << int(Mod::function | Mod::shift) << QString() << fix
            << "# Tarnwick: Fix text: cannot be bound, the Fn key has no "
               "counterpart here; record the shortcut without it.";
        QTest::newRow("Hyprland") << Compositor::Hyprland << int(Key::e) << commandShift << QString() << fix
                                  << "bindr = CTRL SHIFT, E, exec, tarnwick --trigger fix";
        QTest::newRow("Hyprland, a Russian layout names the key by its Cyrillic letter")
            << Compositor::Hyprland << int(Key::e) << int(Mod::command | Mod::option) << QStringLiteral("е")
            << fix << "bindr = CTRL ALT, Cyrillic_ie, exec, tarnwick --trigger fix";
        QTest::newRow("Hyprland, keypad key without modifiers, # in the path")
            << Compositor::Hyprland << int(Key::keypad1) << 0 << QString()
            << "'/opt/a#b/tarnwick' --trigger fix"
            << "bindr = , KP_1, exec, '/opt/a##b/tarnwick' --trigger fix";
        QTest::newRow("Hyprland, a key the layout names nothing")
            << Compositor::Hyprland << 0x66 << commandShift << QString() << fix
            << "# Tarnwick: Fix text: cannot be bound, its key has no name here; record the shortcut with "
               "another key.";
        QTest::newRow("river")
            << Compositor::River << int(Key::e) << commandShift << QString() << fix
            << "riverctl map -release normal Control+Shift E spawn 'tarnwick --trigger fix'";
        QTest::newRow("river, no modifier, a path with spaces and a quote")
            << Compositor::River << int(Key::returnKey) << 0 << QString()
            << "'/opt/my app/it'\\''s/tarnwick' --trigger fix"
            << "riverctl map -release normal None Return spawn "
               "''\\''/opt/my app/it'\\''\\'\\'''\\''s/tarnwick'\\'' --trigger fix'";
        QTest::newRow("labwc") << Compositor::Labwc << int(Key::e) << commandShift << QString() << fix
                               << "<keybind key=\"C-S-e\" onRelease=\"yes\"><action name=\"Execute\" "
                                  "command=\"tarnwick --trigger fix\"/></keybind>";
        QTest::newRow("labwc, Dvorak and Super, a path hostile to XML")
            << Compositor::Labwc << int(Key::e) << int(Mod::control | Mod::command) << QStringLiteral(".")
            << "'/opt/R&D <\"x\">/tarnwick' --trigger fix"
            << "<keybind key=\"C-W-period\" onRelease=\"yes\"><action name=\"Execute\" "
               "command=\"'/opt/R&amp;D &lt;&quot;x&quot;&gt;/tarnwick' --trigger fix\"/></keybind>";
        QTest::newRow("labwc, Fn refused in an XML comment")
            << Compositor::Labwc << int(Key::e) << int(Mod::function) << QString() << fix
            << "<!-- Tarnwick: Fix text: cannot be bound, the Fn key has no counterpart here; record the "
               "shortcut without it. -->";
        QTest::newRow("Wayfire by the kernel's key name, whatever the layout")
            << Compositor::Wayfire << int(Key::e) << commandShift << QStringLiteral("е")
            << "'/a #b/tarnwick' --trigger fix"
            << "binding_tarnwick_fix = <ctrl> <shift> KEY_E\n"
               "command_tarnwick_fix = '/a \\#b/tarnwick' --trigger fix";
        QTest::newRow("Wayfire, all four modifiers and an arrow")
            << Compositor::Wayfire << int(Key::upArrow) << int(Mod::all & ~Mod::function) << QString() << fix
            << "binding_tarnwick_fix = <ctrl> <alt> <shift> <super> KEY_UP\n"
               "command_tarnwick_fix = tarnwick --trigger fix";
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
