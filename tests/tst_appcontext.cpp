// Start-up wiring: what the context creates and stores, and how the two global shortcuts start
// runs. Platform services are fakes; the backend is a real HTTP server on 127.0.0.1.
#include "app/AppContext.h"
#include "testlib/UseService.h"
#include "app/CommandChannel.h"

// moc cannot parse the C++20 library headers behind these.
#ifndef Q_MOC_RUN
#include "testlib/SimulatedFrontApp.h"
#include "testlib/OutputCapture.h"
#include "testlib/TestHttpServer.h"
#include "app/AccessibilityChecker.h"
#include "app/GlobalShortcut.h"
#include "app/MenuBarExtra.h"
#include "app/MenuContent.h"
#include "app/SettingsView.h"
#include "app/TarnwickApp.h"
#include "app/TextProcessor.h"
#include "hotkeys/Constants.h"
#include "hotkeys/Hotkeys.h"
#include "hotkeys/RecorderField.h"
#include "hotkeys/SystemHotkeys.h"
#include "platform/qt/Notices.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeHotKeyService.h"
#include "platform/fake/FakeKeyboardLayout.h"
#include "platform/fake/FakeKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/MemoryUserDefaults.h"
#endif

#include <QAction>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QScopeGuard>
#include <QProcess>
#include <QTest>

#include <atomic>

using namespace std::chrono_literals;

namespace {

constexpr quint32 keyE = 14;
constexpr quint32 commandShift = 0x100 | 0x200;
constexpr quint32 commandOption = 0x100 | 0x800;

struct Finished {
    int exitCode = -1; // -1 when it did not end by itself
    QString errors;
};

// The built program's environment: this process's without a display, and `extra`.
QProcessEnvironment programEnvironment(const QProcessEnvironment &extra)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(extra);
    return environment;
}

// Runs the built program while this process's event loop serves its calls.
Finished runTarnwick(const QStringList &arguments, const QProcessEnvironment &extra = {})
{
    QProcess process;
    process.setProcessEnvironment(programEnvironment(extra));
    process.start(QStringLiteral(TARNWICK_BINARY), arguments);
    const bool ended = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000);
    if (!ended)
        process.kill();
    process.waitForFinished();
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromUtf8(process.readAllStandardError())};
}

// Everything a context needs, as fakes; the backend is real. The settings store is the test's:
// like the process's own, it outlives every context, and the names stored their defaults in it
// when they were first made.
struct Rig {
    explicit Rig(Platform::MemoryUserDefaults &defaults)
        : userDefaults(defaults)
    {
        Hotkeys::resetForTesting();
        Tests::useService(&Hotkeys::Services::userDefaults, &userDefaults);
        Tests::useService(&Hotkeys::Services::hotKeyService, &hotKeys);
    }
    ~Rig()
    {
        Hotkeys::removeAllHandlers();
        Hotkeys::resetForTesting();
        Tests::useService(&Hotkeys::Services::hotKeyService, nullptr);
        Tests::useService(&Hotkeys::Services::userDefaults, nullptr);
    }
    Platform::ManualClock clock;
    Platform::FakePasteboard pasteboard;
    Platform::FakeKeystrokePoster keystrokes;
    Platform::FakeAccessibilityTrust trust {true};
    Platform::MemoryUserDefaults &userDefaults;
    Platform::FakeScreens screens;
    Platform::FakeHotKeyService hotKeys;
    QNetworkAccessManager session;
    Platform::Notices notices;
    SimulatedFrontApp front {keystrokes, pasteboard, clock};

    AppContext::Services services()
    {
        return {clock, pasteboard, keystrokes, trust, userDefaults, screens, session, notices};
    }
    // The id under which a combination is registered with the system, or 0.
    quint32 hotKeyId(quint32 keyCode, quint32 modifiers) const
    {
        for (auto it = hotKeys.registrations().cbegin(); it != hotKeys.registrations().cend(); ++it) {
            if (it->carbonKeyCode == keyCode && it->carbonModifiers == modifiers)
                return it.key();
        }
        return 0;
    }
    void pressAndRelease(quint32 modifiers)
    {
        hotKeys.press(hotKeyId(keyE, modifiers));
        hotKeys.release(hotKeyId(keyE, modifiers));
    }
};

} // namespace

class TestAppContext : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        m_server.setHandler([this](const TestHttpServer::Request &request) {
            if (m_holdReplies)
                return TestHttpServer::Reply::neverAnswer();
            const QJsonObject body = QJsonDocument::fromJson(request.body).object();
            return TestHttpServer::Reply::corrected(body[QLatin1String("mode")].toString() + QLatin1Char(':')
                + body[QLatin1String("text")].toString());
        });
        // The backend URL is read once per process, by the first context.
        qputenv("QUARVEL_BACKEND_URL", m_server.url().toString().toUtf8());
    }

    void init() { m_server.clearRequests(); }

    // Both shortcuts are registered with their defaults (stored when the names are first made,
    // process-wide). Holding one does nothing; its release starts a run in its mode, and further
    // releases during that run are ignored.
    void releasingAShortcutStartsOneRunInItsMode_data()
    {
        QTest::addColumn<quint32>("modifiers");
        QTest::addColumn<QString>("mode");
        QTest::newRow("Command+Shift+E") << commandShift << QStringLiteral("fix");
        QTest::newRow("Command+Option+E") << commandOption << QStringLiteral("formal");
    }
    void releasingAShortcutStartsOneRunInItsMode()
    {
        QFETCH(quint32, modifiers);
        QFETCH(QString, mode);
        Rig rig(m_userDefaults);
        AppContext context(rig.services());
        rig.front.setSelectedText(QStringLiteral("some text"));
        rig.hotKeys.press(rig.hotKeyId(keyE, modifiers));
        QVERIFY(rig.keystrokes.posted().isEmpty());
        rig.hotKeys.release(rig.hotKeyId(keyE, modifiers));
        // The front application copied at once, and the run saw it at once.
        QCOMPARE(context.textProcessor().state(), TextProcessorState::requesting());
        rig.pressAndRelease(commandShift);
        rig.pressAndRelease(commandOption);
        QCOMPARE(rig.keystrokes.posted().size(), 1);
        QTRY_COMPARE(context.textProcessor().state(), TextProcessorState::pasting());
        rig.clock.advance(3s);
        QCOMPARE(context.textProcessor().state(), TextProcessorState::idle());
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(rig.front.document(), mode + QStringLiteral(":some text"));
    }

    void theStoredShortcutsAreRegisteredRatherThanTheDefaults()
    {
        // Command+K for fixing; formalizing switched off (stored as false).
        Platform::MemoryUserDefaults userDefaults;
        const QString stored = QStringLiteral(R"({"carbonKeyCode":40,"carbonModifiers":256})");
        userDefaults.setValue(QStringLiteral("Hotkeys_fixSelectedText"), stored);
        userDefaults.setValue(QStringLiteral("Hotkeys_formalizeSelectedText"), false);
        Rig rig(userDefaults);
        AppContext context(rig.services());
        QCOMPARE(rig.hotKeys.registrations().size(), 1);
        QVERIFY(rig.hotKeyId(40, 0x100) != 0);
        QCOMPARE(userDefaults.value(QStringLiteral("Hotkeys_formalizeSelectedText")), QVariant(false));
        QCOMPARE(userDefaults.value(QStringLiteral("Hotkeys_fixSelectedText")), QVariant(stored));
    }

    void aShortcutAnotherProgramHoldsIsANoticeUntilItIsFree()
    {
        Rig rig(m_userDefaults);
        Platform::FakeKeyboardLayout layout;
        Tests::useService(&Hotkeys::Services::keyboardLayout, &layout);
        const auto noLayout
            = qScopeGuard([] { Tests::useService(&Hotkeys::Services::keyboardLayout, nullptr); });
        rig.hotKeys.refuse(keyE, commandShift, Platform::HotKeyService::eventHotKeyExistsErr);
        AppContext context(rig.services());
        QCOMPARE(rig.notices.all().size(), 1);
        QCOMPARE(rig.notices.all().first().id, QStringLiteral("shortcut-refused/fixSelectedText"));
        QCOMPARE(rig.notices.all().first().message,
            QStringLiteral("Ctrl+Shift+E (Fix text) is taken by another program"));

        // Tried again when the hot keys come back (a recorder is done); one taken later is a notice too.
        rig.hotKeys.stopRefusing(keyE, commandShift);
        Hotkeys::setEnabled(false);
        Hotkeys::setEnabled(true);
        QVERIFY(rig.notices.all().isEmpty());
        rig.hotKeys.withdraw(
            rig.hotKeyId(keyE, commandOption), Platform::HotKeyService::eventHotKeyExistsErr);
        QCOMPARE(rig.notices.all().size(), 1);
        QCOMPARE(rig.notices.all().first().id, QStringLiteral("shortcut-refused/formalizeSelectedText"));
    }

    void aHandlerOutlivingItsContextDoesNothing()
    {
        Rig rig(m_userDefaults);
        auto context = std::make_unique<AppContext>(rig.services());
        const quint32 id = rig.hotKeyId(keyE, commandShift);
        context.reset();
        rig.front.setSelectedText(QStringLiteral("orphan"));
        rig.hotKeys.press(id);
        rig.hotKeys.release(id);
        rig.clock.advance(1s);
        QVERIFY(rig.keystrokes.posted().isEmpty());
        QVERIFY(m_server.requests().isEmpty());
    }

    // Without a tray the program says so (that its shortcuts work all the same is seen in the
    // Wayland tests, where no tray runs). "Settings…" makes the window once, with a recorder for
    // each of the two shortcuts, and brings the same one back.
    void theAppOffersItsTrayMenuAndItsSettingsWindow()
    {
        Rig rig(m_userDefaults);
        TarnwickApp app(rig.services());
        QCOMPARE(Hotkeys::mainMenu(), app.menuBarExtra().content().menu());
        TestLib::OutputCapture diagnostics(TestLib::OutputCapture::Stream::standardError);
        QVERIFY(!app.show()); // the offscreen platform has no tray
        const QString printed = diagnostics.take();
        QVERIFY2(
            printed.contains(QLatin1String("tarnwick: no system tray is available")), qPrintable(printed));

        QVERIFY(!app.settingsView());
        app.menuBarExtra().content().settingsAction()->trigger();
        SettingsView *view = app.settingsView();
        QVERIFY(view && view->isVisible());
        QList<Hotkeys::Name> names;
        for (const Hotkeys::RecorderField *field : view->findChildren<Hotkeys::RecorderField *>())
            names.append(field->shortcutName());
        QCOMPARE(
            names, (QList<Hotkeys::Name> {Hotkeys::fixSelectedText(), Hotkeys::formalizeSelectedText()}));
        view->close();
        app.menuBarExtra().content().settingsAction()->trigger();
        QCOMPARE(app.settingsView(), view);
        QVERIFY(view->isVisible());
    }

    // The command channel on a private session bus: the program's own command line reaches the
    // running instance, and a trigger is a released shortcut, busy check included.
    void commandChannelDrivesTheRunningInstance()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus: the test runs under dbus-run-session");
        Rig rig(m_userDefaults);
        TarnwickApp app(rig.services());
        CommandChannel channel;
        QCOMPARE(channel.claim(), CommandChannel::Claim::Owned);
        channel.setHandlers(app.commandHandlers());
        rig.front.setSelectedText(QStringLiteral("by bus"));
        m_holdReplies = true;

        QCOMPARE(runTarnwick({QStringLiteral("--trigger"), QStringLiteral("formal")}).exitCode, 0);
        QTRY_COMPARE(m_server.waitingCount(), 1);
        QCOMPARE(app.context().textProcessor().state(), TextProcessorState::requesting());
        QCOMPARE(runTarnwick({QStringLiteral("--trigger"), QStringLiteral("fix")}).exitCode, 0);
        QCOMPARE(rig.keystrokes.posted().size(), 1);
        m_holdReplies = false;
        m_server.answerWaiting(TestHttpServer::Reply::corrected(QStringLiteral("formal:by bus")));
        QTRY_COMPARE(app.context().textProcessor().state(), TextProcessorState::pasting());
        rig.clock.advance(3s);
        QCOMPARE(rig.front.document(), QStringLiteral("formal:by bus"));
        QCOMPARE(m_server.requests().size(), 1);

        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.tarnwick.Tarnwick"),
            CommandChannel::objectPath(), QStringLiteral("org.tarnwick.Tarnwick"), QStringLiteral("Trigger"));
        call << QStringLiteral("loud");
        QDBusPendingCall pending = QDBusConnection::sessionBus().asyncCall(call);
        QTRY_VERIFY(pending.isFinished());
        QCOMPARE(pending.error().type(), QDBusError::InvalidArgs);
        QCOMPARE(app.context().textProcessor().state(), TextProcessorState::idle());

        QCOMPARE(runTarnwick({QStringLiteral("--settings")}).exitCode, 0);
        QVERIFY(app.settingsView() && app.settingsView()->isVisible());
    }

    // The real program: a second start is refused through the bus name, --quit ends the first,
    // and a command without an instance, or without a bus, fails with a reason.
    void oneInstancePerSessionAndCommandsWithoutOne()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus: the test runs under dbus-run-session");
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QUARVEL_BACKEND_URL"), m_server.url().toString());
        QProcess first;
        first.setProcessEnvironment(programEnvironment(environment));
        first.start(QStringLiteral(TARNWICK_BINARY), {});
        QTRY_VERIFY_WITH_TIMEOUT(QDBusConnection::sessionBus().interface()->isServiceRegistered(
                                     QStringLiteral("org.tarnwick.Tarnwick")),
            60000);

        const Finished second = runTarnwick({}, environment);
        QCOMPARE(second.exitCode, 1);
        QVERIFY2(second.errors.contains(QLatin1String("already running")), qPrintable(second.errors));
        QCOMPARE(runTarnwick({QStringLiteral("--quit")}).exitCode, 0);
        QTRY_COMPARE_WITH_TIMEOUT(first.state(), QProcess::NotRunning, 60000);
        QCOMPARE(first.exitCode(), 0);

        const Finished none = runTarnwick({QStringLiteral("--trigger"), QStringLiteral("fix")});
        QCOMPARE(none.exitCode, 1);
        QCOMPARE(none.errors, QStringLiteral("tarnwick: Tarnwick is not running; start it first\n"));
        QProcessEnvironment noBus;
        noBus.insert(
            QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/bus"));
        const Finished unreachable = runTarnwick({QStringLiteral("--settings")}, noBus);
        QCOMPARE(unreachable.exitCode, 1);
        QVERIFY2(unreachable.errors.startsWith(QLatin1String("tarnwick: there is no session bus")),
            qPrintable(unreachable.errors));
    }

private:
    std::atomic<bool> m_holdReplies = false;
    TestHttpServer m_server;
    Platform::MemoryUserDefaults m_userDefaults;
};

QTEST_MAIN(TestAppContext)
#include "tst_appcontext.moc"
