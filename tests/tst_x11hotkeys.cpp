// Named shortcuts end to end on a real X server: the settings file, the Hotkeys namespace,
// SystemHotkeys and the X11 key grabs, driven by keystrokes that another client sends with XTest.

#include "hotkeys/Hotkeys.h"
#include "testlib/UseService.h"
#include "hotkeys/MenuTracking.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/qt/NotificationCenter.h"
#include "platform/qt/SettingsUserDefaults.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/x11/X11HotKeyService.h"
#include "platform/x11/X11KeyEventTranslator.h"
#include "testlib/OutputCapture.h"

#include "XTestClient.h"

#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

using Hotkeys::Name;
using Hotkeys::Shortcut;

namespace {

const Shortcut commandShiftE(14, 0x300); // Ctrl+Shift+E on X11
constexpr quint16 xControlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;

} // namespace

class TestX11Hotkeys : public QObject {
    Q_OBJECT

    Platform::FakeKeyboardLayout m_layout;
    Platform::X11::X11KeyEventTranslator m_translator;
    QTemporaryDir m_dir;
    std::unique_ptr<Platform::SettingsUserDefaults> m_defaults;
    std::unique_ptr<Platform::X11::X11HotKeyService> m_service;
    std::unique_ptr<XTestClient> m_client;
    QStringList m_ran;

    void pressControlShiftE() { m_client->chord({XKeys::controlL, XKeys::shiftL, XKeys::e}); }
    void settle()
    {
        m_client->sync();
        QTest::qWait(50);
    }
    // Attaches actions that log "<name> down" and "<name> up".
    void logActions(const Name &name)
    {
        Hotkeys::onKeyDown(
            name, [this, raw = name.rawValue()] { m_ran.append(raw + QLatin1String(" down")); });
        Hotkeys::onKeyUp(name, [this, raw = name.rawValue()] { m_ran.append(raw + QLatin1String(" up")); });
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY(m_dir.isValid());
        Tests::useService(&Hotkeys::Services::keyboardLayout, &m_layout);
    }

    void init()
    {
        Hotkeys::resetForTesting();
        QFile::remove(m_dir.filePath(QStringLiteral("settings.json")));
        m_defaults = std::make_unique<Platform::SettingsUserDefaults>(
            m_dir.filePath(QStringLiteral("settings.json")));
        Tests::useService(&Hotkeys::Services::userDefaults, m_defaults.get());
        m_service = std::make_unique<Platform::X11::X11HotKeyService>();
        Tests::useService(&Hotkeys::Services::hotKeyService, m_service.get());
        m_client = std::make_unique<XTestClient>();
        QVERIFY(m_client->isConnected());
        m_ran.clear();
        Tests::useService(&Hotkeys::Services::keyEventTranslator, &m_translator);
    }

    void cleanup()
    {
        Hotkeys::resetForTesting();
        Tests::useService(&Hotkeys::Services::hotKeyService, nullptr);
        Tests::useService(&Hotkeys::Services::userDefaults, nullptr);
        m_service.reset();
        m_defaults.reset();
        m_client.reset();
    }

    void namedShortcutRunsItsActionsOnAnotherClientsKeystroke()
    {
        const Name fix(QStringLiteral("fixSelectedText"), commandShiftE);
        logActions(fix);
        pressControlShiftE();
        QTRY_COMPARE(m_ran,
            (QStringList {QStringLiteral("fixSelectedText down"), QStringLiteral("fixSelectedText up")}));
        // The default went to the settings file as JSON text.
        Platform::SettingsUserDefaults reread(m_dir.filePath(QStringLiteral("settings.json")));
        QCOMPARE(reread.value(QStringLiteral("Hotkeys_fixSelectedText")),
            QVariant(QStringLiteral("{\"carbonKeyCode\":14,\"carbonModifiers\":768}")));
    }

    void combinationTakenByAnotherClientIsRefusedUntilItLetsGo()
    {
        QCOMPARE(m_client->grab(XKeys::e, xControlShift), 0);
        TestLib::OutputCapture capture;
        const Name fix(QStringLiteral("fix"), commandShiftE);
        QCOMPARE(capture.take(), QStringLiteral("Error registering hotkey ⇧⌘E: -9878\n"));
        QCOMPARE(Hotkeys::refusal(fix), std::optional<int>(-9878));
        logActions(fix);
        pressControlShiftE();
        settle();
        QVERIFY(m_ran.isEmpty());

        // Tried again when the hot keys come back from a menu.
        m_client->ungrab(XKeys::e, xControlShift);
        auto &centre = Platform::NotificationCenter::defaultCenter();
        centre.post(Hotkeys::menuDidBeginTrackingNotification());
        centre.post(Hotkeys::menuDidEndTrackingNotification());
        QCOMPARE(Hotkeys::refusal(fix), std::nullopt);
        QCOMPARE(m_client->grab(XKeys::e, xControlShift), int(XCB_ACCESS));
        pressControlShiftE();
        QTRY_COMPARE(m_ran.size(), 2);
    }

    void openMenuStillRunsTheShortcutAndKeepsOtherKeys()
    {
        const Name fix(QStringLiteral("fix"), commandShiftE);
        logActions(fix);
        Hotkeys::trackAllMenus();
        QMenu menu;
        menu.addAction(QStringLiteral("First"));
        menu.addAction(QStringLiteral("Second"));
        menu.popup(QPoint(100, 100));
        QVERIFY(QTest::qWaitForWindowExposed(&menu));
        QVERIFY(Hotkeys::isMenuOpen());
        // The open menu has the keyboard; our grab is handed back meanwhile.
        QCOMPARE(m_client->grab(XKeys::e, xControlShift), 0);
        m_client->ungrab(XKeys::e, xControlShift);

        pressControlShiftE();
        QTRY_COMPARE(m_ran, (QStringList {QStringLiteral("fix down"), QStringLiteral("fix up")}));
        QVERIFY(menu.isVisible());
        QCOMPARE(menu.activeAction(), nullptr);

        // Held down, the shortcut runs once; the repeats go to the menu.
        m_client->key(XKeys::controlL, true);
        m_client->key(XKeys::shiftL, true);
        m_client->key(XKeys::e, true);
        QTest::qWait(1500);
        m_client->key(XKeys::e, false);
        m_client->key(XKeys::shiftL, false);
        m_client->key(XKeys::controlL, false);
        QTRY_COMPARE(m_ran.size(), 4);
        settle();
        QCOMPARE(m_ran.size(), 4);

        // Keys that are not a shortcut of ours reach the menu.
        constexpr quint8 down = 116;
        m_client->tap(down);
        QTRY_VERIFY(menu.activeAction() != nullptr);

        menu.hide();
        QTRY_VERIFY(!Hotkeys::isMenuOpen());
        QCOMPARE(m_client->grab(XKeys::e, xControlShift), int(XCB_ACCESS));
        pressControlShiftE();
        QTRY_COMPARE(m_ran.size(), 6);
    }
};

QTEST_MAIN(TestX11Hotkeys)
#include "tst_x11hotkeys.moc"
