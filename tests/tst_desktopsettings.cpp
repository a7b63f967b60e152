// The settings window's section about this desktop: configuration lines for wlroots compositors,
// and the buttons that add our shortcuts to GNOME's own.
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

#include <QComboBox>
#include <QCoreApplication>
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
        QVERIFY(lines->isReadOnly());
        QCOMPARE(lines->toPlainText(),
            QStringLiteral("bindr = CTRL SHIFT, E, exec, %1 --trigger fix\n"
                           "bindr = CTRL ALT, E, exec, %1 --trigger formal")
                .arg(h.program()));
        QVERIFY(h.labels().contains(QLatin1String("~/.config/hypr/hyprland.conf")));

        h.hotkeys.keyboardLayout.setCharacters(Key::r, QStringLiteral("к"));
        Hotkeys::setShortcut(Shortcut(Key::r, Mod::control), Hotkeys::fixSelectedText());
        Hotkeys::setShortcut(std::nullopt, Hotkeys::formalizeSelectedText());
        QCOMPARE(lines->toPlainText(),
            QStringLiteral("bindr = SUPER, Cyrillic_ka, exec, %1 --trigger fix").arg(h.program()));

        combo->setCurrentText(QStringLiteral("labwc"));
        QVERIFY(lines->toPlainText().startsWith(QLatin1String("<keybind key=\"W-")));
        QVERIFY(h.labels().contains(QLatin1String("~/.config/labwc/rc.xml")));
        QTest::mouseClick(h.button(QStringLiteral("Copy")), Qt::LeftButton);
        QCOMPARE(h.pasteboard.string(), lines->toPlainText());

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
        QVERIFY(h.labels().contains(QLatin1String("Not added: the shortcuts do nothing yet.")));
        QVERIFY(!remove->isEnabled());

        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(gnome.addedIds(), (QStringList {QStringLiteral("fix"), QStringLiteral("formal")}));
        QCOMPARE(gnome.added[0].command, h.program() + QLatin1String(" --trigger fix"));
        QCOMPARE(gnome.added[0].carbonModifiers, Mod::command | Mod::shift);
        QVERIFY(h.labels().contains(QLatin1String("Added: GNOME runs Tarnwick on your shortcuts.")));
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
