// The settings window's section about this desktop: the lines that bind our shortcuts in each
// wlroots compositor's own syntax, and the buttons that add them to GNOME's own.
#include "app/DesktopSettings.h"
#include "app/GlobalShortcut.h"
#include "hotkeys/Hotkeys.h"
#include "platform/CompositorBindings.h"
#include "platform/qt/Notices.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/ManualClock.h"
#include "testlib/HotkeysFixture.h"

#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using Hotkeys::Shortcut;
using Platform::Compositor;
namespace Key = Platform::MacKeyCode;
namespace Mod = Platform::CarbonModifier;

namespace {

// GNOME's custom shortcuts as a list of ours; add() fails with `error` when it is set.
struct FakeCommandShortcuts final : Platform::CommandShortcuts {
    QString place() const override { return QStringLiteral("Keyboard Shortcuts"); }
    QString add(const QList<Binding> &bindings) override
    {
        if (error.isEmpty())
            added = bindings;
        return error;
    }
    QString remove() override { return add({}); }
    QStringList addedIds() const override
    {
        QStringList ids;
        for (const Binding &binding : added)
            ids << binding.id;
        return ids;
    }
    QList<Binding> added;
    QString error;
};

struct Harness {
    Harness()
    {
        Hotkeys::setShortcut(Shortcut(Key::e, Mod::command | Mod::shift), Hotkeys::fixSelectedText());
        Hotkeys::setShortcut(Shortcut(Key::e, Mod::command | Mod::option), Hotkeys::formalizeSelectedText());
    }
    void open()
    {
        section = std::make_unique<DesktopSettings>(services);
        section->show();
    }
    template <typename T> T *find() const { return section->findChild<T *>(); }
    QPushButton *button(const QString &text) const
    {
        const QList<QPushButton *> buttons = section->findChildren<QPushButton *>();
        return *std::find_if(
            buttons.begin(), buttons.end(), [&](auto *button) { return button->text() == text; });
    }
    QString labels() const
    {
        QStringList texts;
        for (const QLabel *label : section->findChildren<QLabel *>())
            texts << label->text();
        return texts.join(QLatin1Char('\n'));
    }
    QString program() const { return QCoreApplication::applicationFilePath(); }

    Tests::HotkeysFixture hotkeys;
    Platform::ManualClock clock;
    Platform::FakePasteboard pasteboard;
    Platform::FakeKeystrokePoster keys;
    Platform::FakeAccessibilityTrust trust;
    Platform::FakeScreens screens;
    QNetworkAccessManager network;
    Platform::Notices notices;
    AppContext::Services services {
        clock, pasteboard, keys, trust, hotkeys.defaults, screens, network, notices};
    std::unique_ptr<DesktopSettings> section;
};

} // namespace

class TestDesktopSettings : public QObject {
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

    // The probed compositor comes first; the lines follow the shortcuts as they are recorded, and
    // the compositor picked; Copy puts them on the clipboard.
    void compositorConfigurationLines()
    {
        Harness h;
        h.services.compositorConfig = Compositor::Hyprland;
        h.services.keyboardLayout = &h.hotkeys.keyboardLayout;
        QVERIFY(DesktopSettings::isWanted(h.services));
        h.open();
        auto *combo = h.find<QComboBox>();
        auto *lines = h.find<QPlainTextEdit>();
        QCOMPARE(combo->currentText(), QStringLiteral("Hyprland"));
        QCOMPARE(lines->toPlainText(),
            QStringLiteral("bindr = CTRL SHIFT, E, exec, %1 --trigger fix\n"
                           "bindr = CTRL ALT, E, exec, %1 --trigger formal")
                .arg(h.program()));

        h.hotkeys.keyboardLayout.setCharacters(Key::r, QStringLiteral("к"));
        Hotkeys::setShortcut(Shortcut(Key::r, Mod::control), Hotkeys::fixSelectedText());
        Hotkeys::setShortcut(std::nullopt, Hotkeys::formalizeSelectedText());
        QCOMPARE(lines->toPlainText(),
            QStringLiteral("bindr = SUPER, Cyrillic_ka, exec, %1 --trigger fix").arg(h.program()));

        combo->setCurrentText(QStringLiteral("labwc"));
        QVERIFY(lines->toPlainText().startsWith(QLatin1String("<keybind key=\"W-")));
        QVERIFY(h.labels().contains(QLatin1String("~/.config/labwc/rc.xml")));
        QTest::mouseClick(h.button(QStringLiteral("Copy")), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), lines->toPlainText());

        // A compositor the probes could not tell gets sway's syntax first.
        h.services.compositorConfig = Compositor::Unknown;
        h.open();
        QCOMPARE(h.find<QComboBox>()->currentText(), QStringLiteral("sway"));
        QVERIFY(h.find<QPlainTextEdit>()->toPlainText().startsWith(
            QLatin1String("bindcode --release Mod4+27 exec ")));
    }

    // GNOME: "Add to GNOME" adds both shortcuts and clears the notice, a newly recorded shortcut
    // follows while they are added, "Remove from GNOME" takes them away, a failure is shown.
    void gnomeCustomShortcuts()
    {
        Harness h;
        FakeCommandShortcuts gnome;
        h.services.commandShortcuts = &gnome;
        h.notices.set({QStringLiteral("platform/hot keys"), QStringLiteral("m"), QStringLiteral("r")});
        h.open();
        QPushButton *add = h.button(QStringLiteral("Add to GNOME"));
        QPushButton *remove = h.button(QStringLiteral("Remove from GNOME"));
        QVERIFY(!remove->isEnabled());

        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(gnome.addedIds(), (QStringList {QStringLiteral("fix"), QStringLiteral("formal")}));
        QCOMPARE(gnome.added[0].command, h.program() + QLatin1String(" --trigger fix"));
        QCOMPARE(gnome.added[0].carbonModifiers, Mod::command | Mod::shift);
        QVERIFY(remove->isEnabled());
        QVERIFY(h.notices.all().isEmpty());

        Hotkeys::setShortcut(Shortcut(Key::r, Mod::command), Hotkeys::formalizeSelectedText());
        QCOMPARE(gnome.added[1].carbonKeyCode, Key::r);

        QTest::mouseClick(remove, Qt::LeftButton);
        QVERIFY(gnome.addedIds().isEmpty());
        QVERIFY(!remove->isEnabled());
        QCOMPARE(h.notices.all().size(), 1);

        gnome.error = QStringLiteral("The settings schema is gone.");
        QTest::mouseClick(add, Qt::LeftButton);
        QVERIFY(h.labels().contains(gnome.error));
        QVERIFY(!remove->isEnabled());
    }
};

QTEST_MAIN(TestDesktopSettings)
#include "tst_desktopsettings.moc"
