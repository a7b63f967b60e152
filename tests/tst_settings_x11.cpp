// The settings window on a real X server: a shortcut recorded there is what the X server grabs
// from then on, and what starts a correction in another application's window. The application is
// composed here from the real X11 services, on a virtual clock.
#include "testlib/TestHttpServer.h"
#include "testlib/UseService.h"

#include "TargetClient.h"
#include "XTestDriver.h"

#include "app/GlobalShortcut.h"
#include "app/SettingsView.h"
#include "app/TarnwickApp.h"
#include "app/TextProcessor.h"
#include "hotkeys/Hotkeys.h"
#include "hotkeys/MenuTracking.h"
#include "hotkeys/RecorderField.h"
#include "hotkeys/Shortcut.h"
#include "platform/qt/SettingsUserDefaults.h"
#include "platform/qt/Notices.h"
#include "platform/fake/ManualClock.h"
#include "platform/x11/X11AccessibilityTrust.h"
#include "platform/x11/X11HotKeyService.h"
#include "platform/x11/X11KeyEventTranslator.h"
#include "platform/x11/X11KeystrokePoster.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/X11Screens.h"
#include "platform/x11/X11SystemShortcuts.h"

#include <QApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

using namespace std::chrono_literals;

namespace {

constexpr quint8 keyR = 27; // X keycode of R (evdev 19 + 8)

} // namespace

class TestSettingsX11 : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    TestHttpServer m_backend;
    TestX11::TargetClient m_target;
    TestX11::XTestDriver m_driver;

    Platform::ManualClock m_clock;
    std::unique_ptr<Platform::SettingsUserDefaults> m_defaults;
    std::unique_ptr<Platform::X11::X11HotKeyService> m_hotKeys;
    std::unique_ptr<Platform::X11::X11SystemShortcuts> m_systemShortcuts;
    Platform::X11::X11KeyEventTranslator m_keyEventTranslator;
    std::unique_ptr<Platform::X11::X11Pasteboard> m_pasteboard;
    std::unique_ptr<Platform::X11::X11KeystrokePoster> m_keystrokes;
    Platform::X11::X11AccessibilityTrust m_trust;
    Platform::X11::X11Screens m_screens;
    QNetworkAccessManager m_session;
    Platform::Notices m_notices;
    std::unique_ptr<TarnwickApp> m_app;

    // Moves virtual time on in small steps, letting the X server and the target answer in
    // between, until `done` holds or `limit` of virtual time has passed.
    bool advanceUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = 5s)
    {
        for (auto passed = 0ms; passed < limit; passed += 10ms) {
            if (done())
                return true;
            m_clock.advance(10ms);
            QTest::qWait(3);
        }
        return done();
    }

    Hotkeys::RecorderField *fixField() const
    {
        for (Hotkeys::RecorderField *field : m_app->settingsView()->findChildren<Hotkeys::RecorderField *>())
            if (field->shortcutName() == Hotkeys::fixSelectedText())
                return field;
        return nullptr;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(m_driver.isConnected(), "needs an X server in DISPLAY");
        QVERIFY(m_dir.isValid());
        QVERIFY(m_backend.listen());
        m_backend.correctWith([](const QString &text) { return QStringLiteral("Fixed: ") + text; });
        qputenv("QUARVEL_BACKEND_URL", m_backend.url().toString().toUtf8());
        QVERIFY(m_target.start());

        // As the tray application composes itself, with the settings in a real file.
        m_defaults = std::make_unique<Platform::SettingsUserDefaults>(
            m_dir.filePath(QStringLiteral("settings.json")));
        Tests::useService(&Hotkeys::Services::userDefaults, m_defaults.get());
        m_hotKeys = std::make_unique<Platform::X11::X11HotKeyService>();
        Tests::useService(&Hotkeys::Services::hotKeyService, m_hotKeys.get());
        m_systemShortcuts = std::make_unique<Platform::X11::X11SystemShortcuts>(*m_hotKeys);
        Tests::useService(&Hotkeys::Services::systemShortcuts, m_systemShortcuts.get());
        Tests::useService(&Hotkeys::Services::keyEventTranslator, &m_keyEventTranslator);
        Hotkeys::trackAllMenus();
        m_pasteboard = std::make_unique<Platform::X11::X11Pasteboard>();
        m_keystrokes = std::make_unique<Platform::X11::X11KeystrokePoster>(m_clock);
        QVERIFY2(m_trust.isProcessTrusted(), "needs XTEST");
        m_app = std::make_unique<TarnwickApp>(AppContext::Services {
            m_clock, *m_pasteboard, *m_keystrokes, m_trust, *m_defaults, m_screens, m_session, m_notices});
    }

    void cleanupTestCase()
    {
        m_driver.releaseAll();
        Hotkeys::removeAllHandlers();
        m_app.reset();
        Hotkeys::useServices({});
    }

    void aRecordedShortcutReplacesTheOldOneForCorrections()
    {
        using TestX11::controlMask;
        using TestX11::mod1Mask;
        using TestX11::shiftMask;
        QTRY_VERIFY(m_driver.isKeyGrabbedByAnother(TestX11::keyE, controlMask | shiftMask));
        QVERIFY(!m_driver.isKeyGrabbedByAnother(keyR, controlMask | mod1Mask));

        // Record Ctrl+Alt+R in the "Fix text" field with the keyboard, as the user would.
        m_app->openSettings();
        SettingsView *view = m_app->settingsView();
        QVERIFY(view);
        QVERIFY(QTest::qWaitForWindowExposed(view));
        view->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(view));
        // Activation keeps the fields from taking the focus for the rest of its event-loop turn.
        QTest::qWait(50);
        Hotkeys::RecorderField *field = fixField();
        QVERIFY(field);
        QTest::mouseClick(field, Qt::LeftButton, {}, field->rect().center() - QPoint(20, 0));
        QTRY_VERIFY(field->isRecording());
        // While it records, both shortcuts let go of their keys: the field needs to see them.
        QTRY_VERIFY(!m_driver.isKeyGrabbedByAnother(TestX11::keyE, controlMask | shiftMask));
        QVERIFY(!m_driver.isKeyGrabbedByAnother(TestX11::keyE, controlMask | mod1Mask));

        m_driver.chord({TestX11::keyControlL, TestX11::keyAltL, keyR});
        QTRY_VERIFY(!field->isRecording());
        QCOMPARE(field->text(),
            Hotkeys::Shortcut(
                Hotkeys::Key::r, Hotkeys::ModifierFlags::command | Hotkeys::ModifierFlags::option)
                .nativeText());
        QTRY_VERIFY(m_driver.isKeyGrabbedByAnother(keyR, controlMask | mod1Mask));
        QVERIFY(!m_driver.isKeyGrabbedByAnother(TestX11::keyE, controlMask | shiftMask));
        QVERIFY(
            m_driver.isKeyGrabbedByAnother(TestX11::keyE, controlMask | mod1Mask)); // the other one is back
        // It is in the settings file, for the next start.
        QFile file(m_dir.filePath(QStringLiteral("settings.json")));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QJsonObject stored = QJsonDocument::fromJson(file.readAll()).object();
        QCOMPARE(stored.value(QStringLiteral("Hotkeys_fixSelectedText")).toString(),
            QStringLiteral("{\"carbonKeyCode\":15,\"carbonModifiers\":2304}"));

        // In the other application, the old combination does nothing any more...
        QVERIFY(m_target.setText(QStringLiteral("teh text")));
        QVERIFY(m_target.activate());
        QTRY_VERIFY(m_target.hasFocus());
        TextProcessor &processor = m_app->context().textProcessor();
        m_driver.chord({TestX11::keyControlL, TestX11::keyShiftL, TestX11::keyE});
        QTest::qWait(300);
        QCOMPARE(processor.state(), TextProcessorState::idle());
        QVERIFY(m_backend.requests().isEmpty());

        // ...and the new one corrects the selection.
        m_driver.chord({TestX11::keyControlL, TestX11::keyAltL, keyR});
        QTRY_VERIFY(processor.state() != TextProcessorState::idle());
        QVERIFY(advanceUntil([&] { return processor.state() == TextProcessorState::idle(); }));
        QCOMPARE(m_target.text(), QStringLiteral("Fixed: teh text"));
        QCOMPARE(m_backend.requests().size(), 1);
        QVERIFY(!processor.lastError());
    }
};

QTEST_MAIN(TestSettingsX11)
#include "tst_settings_x11.moc"
