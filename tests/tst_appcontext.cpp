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
#include "hotkeys/Constants.h"
#include "app/TextProcessor.h"
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

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QScopeGuard>
#include <QProcess>
#include <QAction>
#include <QMenu>
#include <QTest>

#include <atomic>
#include <cstdio>

using namespace std::chrono_literals;

namespace {

constexpr quint32 carbonKeyE = 14;
constexpr quint32 carbonCommand = 0x100;
constexpr quint32 carbonShift = 0x200;
constexpr quint32 carbonOption = 0x800;

struct Finished {
    int exitCode = -1; // -1 when it did not end by itself
    QString errors;
};

// Runs the built program without a display while this process's event loop serves its calls.
Finished runTarnwick(const QStringList &arguments, const QProcessEnvironment &extra = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.insert(extra);
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TARNWICK_BINARY), arguments);
    const bool ended = QTest::qWaitFor([&] { return process.state() == QProcess::NotRunning; }, 60000);
    if (!ended)
        process.kill();
    process.waitForFinished();
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromUtf8(process.readAllStandardError())};
}

QByteArray correctionReply(const QString &text, const QString &mode)
{
    return QJsonDocument(
        QJsonObject {{QStringLiteral("ok"), true}, {QStringLiteral("text"), mode + QLatin1Char(':') + text}})
        .toJson(QJsonDocument::Compact);
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

    ~Rig()
    {
        Hotkeys::removeAllHandlers();
        Hotkeys::resetForTesting();
        Tests::useService(&Hotkeys::Services::hotKeyService, nullptr);
        Tests::useService(&Hotkeys::Services::userDefaults, nullptr);
    }

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
};

QJsonObject storedShortcut(const Platform::UserDefaults &defaults, const QString &name)
{
    return QJsonDocument::fromJson(defaults.value(QStringLiteral("Hotkeys_") + name).toString().toUtf8())
        .object();
}

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
            return TestHttpServer::Reply::json(200,
                correctionReply(body.value(QStringLiteral("text")).toString(),
                    body.value(QStringLiteral("mode")).toString()));
        });
        // The backend URL is read once per process, by the first context.
        qputenv("QUARVEL_BACKEND_URL", m_server.url().toString().toUtf8());
    }

    void init() { m_server.clearRequests(); }

    // Must come first: the names are process-wide and store their defaults when first made.
    void firstStartStoresBothDefaultsAndRegistersThem()
    {
        Rig rig(m_userDefaults);
        AppContext context(rig.services());
        QCOMPARE(storedShortcut(rig.userDefaults, QStringLiteral("fixSelectedText")),
            (QJsonObject {{QStringLiteral("carbonKeyCode"), 14}, {QStringLiteral("carbonModifiers"), 768}}));
        QCOMPARE(storedShortcut(rig.userDefaults, QStringLiteral("formalizeSelectedText")),
            (QJsonObject {{QStringLiteral("carbonKeyCode"), 14}, {QStringLiteral("carbonModifiers"), 2304}}));
        QVERIFY(rig.hotKeyId(carbonKeyE, carbonCommand | carbonShift) != 0);
        QVERIFY(rig.hotKeyId(carbonKeyE, carbonCommand | carbonOption) != 0);
        QCOMPARE(rig.hotKeys.registrations().size(), 2);
        QCOMPARE(Hotkeys::fixSelectedText().rawValue(), QStringLiteral("fixSelectedText"));
        QCOMPARE(Hotkeys::formalizeSelectedText().rawValue(), QStringLiteral("formalizeSelectedText"));

        QVERIFY(context.ax().isTrusted());
        QCOMPARE(context.textProcessor().state(), TextProcessorState::idle());
    }

    void releasingAShortcutStartsARunInItsMode_data()
    {
        QTest::addColumn<quint32>("modifiers");
        QTest::addColumn<QString>("mode");
        QTest::newRow("Command+Shift+E") << (carbonCommand | carbonShift) << QStringLiteral("fix");
        QTest::newRow("Command+Option+E") << (carbonCommand | carbonOption) << QStringLiteral("formal");
    }
    void releasingAShortcutStartsARunInItsMode()
    {
        QFETCH(quint32, modifiers);
        QFETCH(QString, mode);
        Rig rig(m_userDefaults);
        AppContext context(rig.services());
        rig.front.setSelectedText(QStringLiteral("some text"));
        const quint32 id = rig.hotKeyId(carbonKeyE, modifiers);
        QVERIFY(id != 0);

        // Holding the shortcut does nothing; the release starts the run.
        rig.hotKeys.press(id);
        QVERIFY(rig.keystrokes.posted().isEmpty());
        QCOMPARE(context.textProcessor().state(), TextProcessorState::idle());
        rig.hotKeys.release(id);
        // The front application copied at once, and the run saw it at once.
        QCOMPARE(context.textProcessor().state(), TextProcessorState::requesting());
        QCOMPARE(rig.keystrokes.posted().size(), 1);
        QTRY_COMPARE(m_server.requests().size(), 1);
        const QJsonObject sent = QJsonDocument::fromJson(m_server.requests().first().body).object();
        QCOMPARE(sent.value(QStringLiteral("mode")).toString(), mode);
        QCOMPARE(sent.value(QStringLiteral("text")).toString(), QStringLiteral("some text"));
        QTRY_COMPARE(context.textProcessor().state(), TextProcessorState::pasting());
        rig.clock.advance(3s);
        QCOMPARE(context.textProcessor().state(), TextProcessorState::idle());
        QCOMPARE(rig.front.document(), mode + QStringLiteral(":some text"));
    }

    void aSecondReleaseDuringARunIsIgnored()
    {
        Rig rig(m_userDefaults);
        AppContext context(rig.services());
        rig.front.setSelectedText(QStringLiteral("once"));
        const quint32 fix = rig.hotKeyId(carbonKeyE, carbonCommand | carbonShift);
        const quint32 formal = rig.hotKeyId(carbonKeyE, carbonCommand | carbonOption);
        rig.hotKeys.press(fix);
        rig.hotKeys.release(fix);
        rig.hotKeys.press(fix);
        rig.hotKeys.release(fix);
        rig.hotKeys.press(formal);
        rig.hotKeys.release(formal);
        QCOMPARE(rig.keystrokes.posted().size(), 1);
        rig.clock.advance(10ms);
        QTRY_COMPARE(m_server.requests().size(), 1);
        QTRY_COMPARE(context.textProcessor().state(), TextProcessorState::pasting());
        rig.clock.advance(3s);
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(rig.front.document(), QStringLiteral("fix:once"));
    }

    void theStoredShortcutsAreRegisteredRatherThanTheDefaults()
    {
        // Command+K for fixing; formalizing switched off (stored as false).
        Platform::MemoryUserDefaults userDefaults;
        userDefaults.setValue(QStringLiteral("Hotkeys_fixSelectedText"),
            QStringLiteral(R"({"carbonKeyCode":40,"carbonModifiers":256})"));
        userDefaults.setValue(QStringLiteral("Hotkeys_formalizeSelectedText"), false);
        Rig rig(userDefaults);
        AppContext context(rig.services());
        QCOMPARE(rig.hotKeys.registrations().size(), 1);
        QVERIFY(rig.hotKeyId(40, carbonCommand) != 0);
        QCOMPARE(userDefaults.value(QStringLiteral("Hotkeys_formalizeSelectedText")), QVariant(false));
        QCOMPARE(storedShortcut(userDefaults, QStringLiteral("fixSelectedText"))
                     .value(QStringLiteral("carbonKeyCode")),
            QJsonValue(40));
    }

    void aShortcutAnotherProgramHoldsIsANoticeUntilItIsFree()
    {
        Rig rig(m_userDefaults);
        Platform::FakeKeyboardLayout layout;
        Tests::useService(&Hotkeys::Services::keyboardLayout, &layout);
        const auto noLayout = qScopeGuard([] { Tests::useService(&Hotkeys::Services::keyboardLayout, nullptr); });
        rig.hotKeys.refuse(
            carbonKeyE, carbonCommand | carbonShift, Platform::HotKeyService::eventHotKeyExistsErr);
        TestLib::OutputCapture printed;
        AppContext context(rig.services());
        QCOMPARE(printed.take(), QStringLiteral("Error registering hotkey ⇧⌘E: -9878\n"));
        QCOMPARE(rig.notices.all().size(), 1);
        QCOMPARE(rig.notices.all().first().id, QStringLiteral("shortcut-refused/fixSelectedText"));
        QCOMPARE(
            rig.notices.all().first().message, QStringLiteral("Ctrl+Shift+E (Fix text) is taken by another program"));

        // Tried again when the hot keys come back (a recorder is done); one taken later is a notice too.
        rig.hotKeys.stopRefusing(carbonKeyE, carbonCommand | carbonShift);
        Hotkeys::setEnabled(false);
        Hotkeys::setEnabled(true);
        QVERIFY(rig.notices.all().isEmpty());
        TestLib::OutputCapture printedLater;
        rig.hotKeys.withdraw(rig.hotKeyId(carbonKeyE, carbonCommand | carbonOption),
            Platform::HotKeyService::eventHotKeyExistsErr);
        QCOMPARE(printedLater.take(), QStringLiteral("Error registering hotkey ⌥⌘E: -9878\n"));
        QCOMPARE(rig.notices.all().size(), 1);
        QCOMPARE(rig.notices.all().first().id, QStringLiteral("shortcut-refused/formalizeSelectedText"));
    }

    void aHandlerOutlivingItsContextDoesNothing()
    {
        Rig rig(m_userDefaults);
        auto context = std::make_unique<AppContext>(rig.services());
        const quint32 id = rig.hotKeyId(carbonKeyE, carbonCommand | carbonShift);
        context.reset();
        rig.front.setSelectedText(QStringLiteral("orphan"));
        rig.hotKeys.press(id);
        rig.hotKeys.release(id);
        QVERIFY(rig.keystrokes.posted().isEmpty());
        rig.clock.advance(1s);
        QVERIFY(m_server.requests().isEmpty());
    }

    void theAppOffersItsTrayMenuAndSaysWhenThereIsNoTray()
    {
        Rig rig(m_userDefaults);
        TarnwickApp app(rig.services());
        QCOMPARE(Hotkeys::mainMenu(), app.menuBarExtra().content().menu());
        QVERIFY(app.menuBarExtra().content().fixAction()->isEnabled());

        // The offscreen platform has no tray.
        std::FILE *diagnostics = std::tmpfile();
        QVERIFY(diagnostics);
        QVERIFY(!app.show(diagnostics));
        std::rewind(diagnostics);
        char line[256] = {};
        QVERIFY(std::fgets(line, sizeof line, diagnostics));
        std::fclose(diagnostics);
        QVERIFY2(QByteArray(line).startsWith("tarnwick: no system tray is available"), line);

        // The shortcuts work all the same.
        rig.front.setSelectedText(QStringLiteral("no tray"));
        const quint32 id = rig.hotKeyId(carbonKeyE, carbonCommand | carbonShift);
        rig.hotKeys.press(id);
        rig.hotKeys.release(id);
        QCOMPARE(app.context().textProcessor().state(), TextProcessorState::requesting());
        QTRY_COMPARE(app.context().textProcessor().state(), TextProcessorState::pasting());
        rig.clock.advance(3s);
        QCOMPARE(rig.front.document(), QStringLiteral("fix:no tray"));
    }

    // "Settings…" makes the window once, with a recorder for each of the two shortcuts, and brings
    // the same window back after it was closed.
    void settingsOpensOneWindowWithBothRecorders()
    {
        Rig rig(m_userDefaults);
        TarnwickApp app(rig.services());
        QVERIFY(!app.settingsView());
        app.menuBarExtra().content().settingsAction()->trigger();
        SettingsView *view = app.settingsView();
        QVERIFY(view);
        QVERIFY(view->isVisible());
        QList<Hotkeys::Name> names;
        for (const Hotkeys::RecorderField *field : view->findChildren<Hotkeys::RecorderField *>())
            names.append(field->shortcutName());
        QCOMPARE(
            names, (QList<Hotkeys::Name> {Hotkeys::fixSelectedText(), Hotkeys::formalizeSelectedText()}));

        view->close();
        QVERIFY(!view->isVisible());
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
        m_server.answerWaiting(TestHttpServer::Reply::json(
            200, correctionReply(QStringLiteral("by bus"), QStringLiteral("formal"))));
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
        first.setProcessEnvironment([&] {
            QProcessEnvironment all = QProcessEnvironment::systemEnvironment();
            all.remove(QStringLiteral("DISPLAY"));
            all.insert(environment);
            return all;
        }());
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
