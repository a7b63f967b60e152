#include "hotkeys/Hotkeys.h"
#include "hotkeys/MenuTracking.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/x11/X11HotKeyService.h"
#include "testlib/HotkeysFixture.h"
#include "testlib/OutputCapture.h"
#include "testlib/UseService.h"

#include <QTest>

using Hotkeys::Shortcut;
using Hotkeys::SystemHotkeys;
using Platform::FakeHotKeyService;
using Platform::HotKeyService;
using Kind = HotKeyService::EventKind;

namespace {

const Shortcut commandShiftE(14, 0x300);
const Shortcut commandOptionE(14, 0x900);
const Shortcut controlK(40, 0x1000);

void openMenu()
{
    Platform::NotificationCenter::defaultCenter().post(Hotkeys::menuDidBeginTrackingNotification());
}

void closeMenu()
{
    Platform::NotificationCenter::defaultCenter().post(Hotkeys::menuDidEndTrackingNotification());
}

} // namespace

class TestSystemHotkeys : public QObject {
    Q_OBJECT

    std::unique_ptr<Tests::HotkeysFixture> m_fixture;
    FakeHotKeyService *m_service = nullptr;
    QStringList m_log;

    // Callbacks that write "<tag> down <key code>" / "<tag> up <key code>" into m_log.
    SystemHotkeys::Callback logDown(const QString &tag)
    {
        return [this, tag](const Shortcut &s) {
            m_log.append(tag + QLatin1String(" down ") + QString::number(s.carbonKeyCode()));
        };
    }
    SystemHotkeys::Callback logUp(const QString &tag)
    {
        return [this, tag](const Shortcut &s) {
            m_log.append(tag + QLatin1String(" up ") + QString::number(s.carbonKeyCode()));
        };
    }
    void add(const Shortcut &shortcut, const QString &tag)
    {
        SystemHotkeys::register_(shortcut, logDown(tag), logUp(tag));
    }

private Q_SLOTS:
    void init()
    {
        m_fixture = std::make_unique<Tests::HotkeysFixture>();
        m_service = &m_fixture->hotKeyService;
        // The switches are read from the Hotkeys namespace; initialise its menu observers.
        Hotkeys::initialize();
        m_log.clear();
    }
    void cleanup() { m_fixture.reset(); }

    void idsStartAtOneAndAreNeverReused()
    {
        add(commandShiftE, QStringLiteral("a"));
        add(controlK, QStringLiteral("b"));
        QCOMPARE(SystemHotkeys::hotKeyIds(), (QList<qint64> {1, 2}));
        SystemHotkeys::unregister(commandShiftE);
        add(commandShiftE, QStringLiteral("a"));
        QCOMPARE(SystemHotkeys::hotKeyIds(), (QList<qint64> {2, 3}));
        QCOMPARE(m_service->registrations().keys(), (QList<quint32> {2, 3}));
        const auto third = m_service->registrations().value(3);
        QCOMPARE(third.carbonKeyCode, 14u);
        QCOMPARE(third.carbonModifiers, 0x300u);
        QCOMPARE(third.hotKeyId.signature, 0x5A51484Bu);
    }

    void refusedRegistrationPrintsTheLineAndStaysRefused_data()
    {
        QTest::addColumn<qint64>("keyCode");
        QTest::addColumn<qint64>("modifiers");
        QTest::addColumn<int>("refusal");
        QTest::addColumn<QString>("line");
        QTest::newRow("taken") << qint64(14) << qint64(0x300) << HotKeyService::eventHotKeyExistsErr
                               << QStringLiteral("Error registering hotkey ⇧⌘E: -9878\n");
        QTest::newRow("no counterpart")
            << qint64(40) << qint64(0x1000) << HotKeyService::eventHotKeyInvalidErr
            << QStringLiteral("Error registering hotkey ⌃K: -9879\n");
        QTest::newRow("negative key code")
            << qint64(-1) << qint64(0x100) << 0 << QStringLiteral("Error registering hotkey ⌘�: -50\n");
        QTest::newRow("key code above 32 bits") << (qint64(1) << 32) << qint64(0x100) << 0
                                                << QStringLiteral("Error registering hotkey ⌘�: -50\n");
    }

    void refusedRegistrationPrintsTheLineAndStaysRefused()
    {
        QFETCH(qint64, keyCode);
        QFETCH(qint64, modifiers);
        QFETCH(int, refusal);
        QFETCH(QString, line);
        const Shortcut shortcut(keyCode, modifiers);
        if (refusal != 0)
            m_service->refuse(quint32(keyCode), quint32(modifiers), refusal);

        TestLib::OutputCapture capture;
        add(shortcut, QStringLiteral("a"));
        QCOMPARE(capture.take(), line);
        QCOMPARE(SystemHotkeys::hotKeyIds(), QList<qint64> {1});
        QCOMPARE(SystemHotkeys::isLive(1), std::optional<bool>(false));
        QCOMPARE(SystemHotkeys::status(shortcut), std::optional<int>(refusal != 0 ? refusal : -50));
        // Out-of-range values never reach the system.
        QCOMPARE(m_service->attempts().size(), refusal != 0 ? 1 : 0);

        add(commandOptionE, QStringLiteral("b"));
        QCOMPARE(SystemHotkeys::hotKeyIds(), (QList<qint64> {1, 2}));
        QCOMPARE(SystemHotkeys::status(commandOptionE), std::optional<int>(HotKeyService::noErr));
        QVERIFY(SystemHotkeys::isEventHandlerInstalled());
        SystemHotkeys::unregister(shortcut);
        QCOMPARE(SystemHotkeys::status(shortcut), std::nullopt);
    }

    void noServiceRefusesEverything()
    {
        Tests::useService(&Hotkeys::Services::hotKeyService, nullptr);
        TestLib::OutputCapture capture;
        add(commandShiftE, QStringLiteral("a"));
        QCOMPARE(capture.take(), QStringLiteral("Error registering hotkey ⇧⌘E: -9868\n"));
        QCOMPARE(SystemHotkeys::status(commandShiftE), std::optional<int>(HotKeyService::eventInternalErr));
    }

    void withoutAnXServerEveryRegistrationIsRefusedWithAClearMessage()
    {
        // This test runs on the offscreen platform: no X connection.
        Platform::X11::X11HotKeyService x11;
        QVERIFY(!x11.isAvailable());
        Tests::useService(&Hotkeys::Services::hotKeyService, &x11);
        TestLib::OutputCapture err(TestLib::OutputCapture::Stream::standardError);
        TestLib::OutputCapture out;
        add(commandShiftE, QStringLiteral("a"));
        add(controlK, QStringLiteral("b"));
        QCOMPARE(out.take(),
            QStringLiteral("Error registering hotkey ⇧⌘E: -9868\nError registering hotkey ⌃K: -9868\n"));
        const QString message = err.take();
        QCOMPARE(message.count(QLatin1String("global shortcuts are unavailable")), 1);
        QVERIFY2(message.contains(QLatin1String("no X11 display connection")), qPrintable(message));
        QCOMPARE(SystemHotkeys::isLive(1), std::optional<bool>(false));
        Tests::useService(&Hotkeys::Services::hotKeyService, m_service);
    }

    void failedHandlerInstallationIsRetriedAtTheNextRegistration()
    {
        m_service->failHandlerInstalls(1, -1);
        add(commandShiftE, QStringLiteral("a"));
        QVERIFY(!SystemHotkeys::isEventHandlerInstalled());
        QVERIFY(!m_service->hasHandler());
        // The key is registered all the same, only nobody hears it yet.
        QVERIFY(m_service->isRegistered(1));
        QCOMPARE(m_service->press(1), HotKeyService::eventNotHandledErr);

        add(controlK, QStringLiteral("b"));
        QVERIFY(SystemHotkeys::isEventHandlerInstalled());
        QVERIFY(m_service->isListening());
        add(commandOptionE, QStringLiteral("c"));
        QCOMPARE(m_service->handlerInstalls(), 1);
        QCOMPARE(m_service->press(1), HotKeyService::noErr);
        QCOMPARE(m_log, QStringList {QStringLiteral("a down 14")});
    }

    void hotKeyEventsReachEachEntryByItsId()
    {
        // Two entries with one shortcut (the fake, unlike X11, accepts the same combination twice).
        add(commandShiftE, QStringLiteral("first"));
        add(commandShiftE, QStringLiteral("second"));
        QCOMPARE(m_service->press(2), HotKeyService::noErr);
        QCOMPARE(m_service->release(1), HotKeyService::noErr);
        QCOMPARE(m_log, (QStringList {QStringLiteral("second down 14"), QStringLiteral("first up 14")}));

        SystemHotkeys::unregister(commandShiftE);
        QVERIFY(SystemHotkeys::hotKeyIds().isEmpty());
        QCOMPARE(m_service->unregisterCalls(), (QList<quint32> {1, 2}));
        QVERIFY(m_service->registrations().isEmpty());
        // The handler stays installed with an empty table.
        QVERIFY(SystemHotkeys::isEventHandlerInstalled());
        QVERIFY(m_service->isListening());
    }

    void eventsThatAreNotOursAreNotHandled_data()
    {
        QTest::addColumn<quint32>("kind");
        QTest::addColumn<quint32>("signature");
        QTest::addColumn<quint32>("id");
        QTest::addColumn<int>("status");
        QTest::newRow("ours") << quint32(5) << SystemHotkeys::signature << quint32(1) << HotKeyService::noErr;
        QTest::newRow("foreign signature")
            << quint32(5) << quint32(0x41424344) << quint32(1) << HotKeyService::eventNotHandledErr;
        QTest::newRow("unknown id") << quint32(6) << SystemHotkeys::signature << quint32(99)
                                    << HotKeyService::eventNotHandledErr;
        QTest::newRow("raw key kind")
            << quint32(1) << SystemHotkeys::signature << quint32(1) << HotKeyService::eventNotHandledErr;
        QTest::newRow("other kind") << quint32(7) << SystemHotkeys::signature << quint32(1)
                                    << HotKeyService::eventNotHandledErr;
    }

    void eventsThatAreNotOursAreNotHandled()
    {
        QFETCH(quint32, kind);
        QFETCH(quint32, signature);
        QFETCH(quint32, id);
        QFETCH(int, status);
        add(commandShiftE, QStringLiteral("a"));
        QCOMPARE(m_service->deliver({Kind(kind), {signature, id}}), status);
        QCOMPARE(m_log.size(), status == HotKeyService::noErr ? 1 : 0);
    }

    void callbackMayUnregisterItsOwnEntry()
    {
        SystemHotkeys::register_(
            commandShiftE, [](const Shortcut &s) { SystemHotkeys::unregister(s); },
            logUp(QStringLiteral("a")));
        QCOMPARE(m_service->press(1), HotKeyService::noErr);
        QVERIFY(SystemHotkeys::hotKeyIds().isEmpty());
        QCOMPARE(m_service->press(1), HotKeyService::eventNotHandledErr);
    }

    void switchesSuspendAndRestoreUnderTheSameIds_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("menuOpen");
        QTest::addColumn<bool>("live");
        QTest::addColumn<bool>("listening");
        QTest::addColumn<bool>("monitor");
        QTest::newRow("enabled, no menu") << true << false << true << true << false;
        QTest::newRow("enabled, menu open") << true << true << false << false << true;
        QTest::newRow("disabled, no menu") << false << false << false << false << false;
        QTest::newRow("disabled, menu open") << false << true << false << false << false;
    }

    void switchesSuspendAndRestoreUnderTheSameIds()
    {
        QFETCH(bool, enabled);
        QFETCH(bool, menuOpen);
        QFETCH(bool, live);
        QFETCH(bool, listening);
        QFETCH(bool, monitor);
        add(commandShiftE, QStringLiteral("a"));
        add(controlK, QStringLiteral("b"));

        Hotkeys::setEnabled(enabled);
        if (menuOpen)
            openMenu();
        QCOMPARE(SystemHotkeys::hotKeyIds(), (QList<qint64> {1, 2}));
        QCOMPARE(SystemHotkeys::isLive(1), std::optional<bool>(live));
        QCOMPARE(SystemHotkeys::isLive(2), std::optional<bool>(live));
        QCOMPARE(m_service->registrations().size(), live ? 2 : 0);
        QCOMPARE(m_service->isListening(), listening);
        QCOMPARE(SystemHotkeys::isKeyEventMonitorRunning(), monitor);

        // Back to normal: the same ids come back, nothing new is handed out.
        closeMenu();
        Hotkeys::setEnabled(true);
        QCOMPARE(m_service->registrations().keys(), (QList<quint32> {1, 2}));
        QCOMPARE(SystemHotkeys::lastHotKeyId(), 2);
        QVERIFY(m_service->isListening());
        QVERIFY(!SystemHotkeys::isKeyEventMonitorRunning());
        QCOMPARE(m_service->press(2), HotKeyService::noErr);
        QCOMPARE(m_log, QStringList {QStringLiteral("b down 40")});
    }

    void refusalsReportedLaterPrintTheLineAndSilenceTheEntry()
    {
        add(commandShiftE, QStringLiteral("a"));
        add(controlK, QStringLiteral("b"));
        TestLib::OutputCapture capture;
        m_service->withdraw(2, HotKeyService::eventHotKeyExistsErr);
        QCOMPARE(capture.take(), QStringLiteral("Error registering hotkey ⌃K: -9878\n"));
        QCOMPARE(SystemHotkeys::isLive(2), std::optional<bool>(false));
        QCOMPARE(SystemHotkeys::status(controlK), std::optional<int>(HotKeyService::eventHotKeyExistsErr));
        QCOMPARE(m_service->press(2), HotKeyService::eventNotHandledErr);
        m_service->grant(2);
        QCOMPARE(SystemHotkeys::isLive(2), std::optional<bool>(true));
        QCOMPARE(m_service->press(2), HotKeyService::noErr);
        QCOMPARE(capture.take(), QString());
        QCOMPARE(m_log, QStringList {QStringLiteral("b down 40")});
    }

    void registrationWhileSuspendedStaysSuspended_data()
    {
        QTest::addColumn<bool>("disabled");
        QTest::newRow("disabled") << true;
        QTest::newRow("menu open") << false;
    }

    void registrationWhileSuspendedStaysSuspended()
    {
        QFETCH(bool, disabled);
        add(commandShiftE, QStringLiteral("a"));
        if (disabled)
            Hotkeys::setEnabled(false);
        else
            openMenu();
        // The key must stay free for other programs until the hot keys come back.
        add(controlK, QStringLiteral("b"));
        QCOMPARE(SystemHotkeys::isLive(2), std::optional<bool>(false));
        QVERIFY(m_service->registrations().isEmpty());
        Hotkeys::setEnabled(true);
        closeMenu();
        QCOMPARE(m_service->registrations().keys(), (QList<quint32> {1, 2}));
    }
};

QTEST_MAIN(TestSystemHotkeys)
#include "tst_systemhotkeys.moc"
