// The portal clients under the real xdg-desktop-portal frontend, with our test backend granting or
// refusing, headless mutter taking the keystrokes into a native GTK window (the Wayland tests' GTK
// target), and the clipboard seen through XWayland.
#include "HeadlessGnome.h"

#include "platform/fake/ManualClock.h"
#include "platform/qt/Notices.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/portal/PortalGlobalShortcuts.h"
#include "platform/portal/PortalKeystrokePoster.h"

#include "TargetClient.h"

#include "testlib/TestHttpServer.h"

#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace std::chrono_literals;
using Platform::HotKeyService;
using Platform::Portal::PortalKeystrokePoster;

namespace {

constexpr quint16 keyV = 0x09, keyE = 0x0E;
constexpr quint64 commandFlag = 0x100000;

QString clipboard()
{
    return QString::fromUtf8(TestX11::runTool(QStringLiteral("xclip"),
        {QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")})
                                 .out);
}

} // namespace

class TestPortal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (const QString missing = HeadlessGnome::missing(); !missing.isEmpty())
            QSKIP(qPrintable(missing));
        const QString failure = m_gnome.start(true);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        m_gnome.useFromThisProcess();
    }

    // The whole program: the portal's shortcut, keystrokes into the GTK window, the clipboard
    // through XWayland, the correction from a loopback backend, the user's clipboard given back.
    void wholeRunIntoGtk()
    {
        TestHttpServer backend;
        QVERIFY(backend.listen());
        backend.correctWith([](const QString &text) { return text + QStringLiteral(", fixed"); });
        // Allowed before, so the program asks at its start (version 1: the dialog each time).
        const QString config = m_gnome.environment().value(QStringLiteral("XDG_CONFIG_HOME"));
        QVERIFY(QDir().mkpath(config + QStringLiteral("/tarnwick")));
        QFile settings(config + QStringLiteral("/tarnwick/settings.json"));
        QVERIFY(
            settings.open(QIODevice::WriteOnly) && settings.write(R"({"remoteDesktopGranted": true})") > 0);
        settings.close();
        QVERIFY(TestX11::runTool(QStringLiteral("xclip"),
                    {QStringLiteral("-selection"), QStringLiteral("clipboard")}, "mine")
                    .exitCode
            == 0);
        QVERIFY(m_target.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(TARNWICK_GTK_TARGET)}));
        QVERIFY(m_target.setText(QStringLiteral("teh cat")));

        QProcess tarnwick;
        QProcessEnvironment environment = m_gnome.environment();
        environment.insert(QStringLiteral("QUARVEL_BACKEND_URL"), backend.url().toString());
        tarnwick.setProcessEnvironment(environment);
        tarnwick.setProcessChannelMode(QProcess::ForwardedChannels);
        tarnwick.start(QStringLiteral(TARNWICK_BINARY), QStringList());
        const auto bound
            = [&] { return m_gnome.control(QStringLiteral("Bound")).toStringList().size() == 2; };
        QTRY_VERIFY_WITH_TIMEOUT(bound() && m_gnome.control(QStringLiteral("Dialogs")).toUInt() == 2, 20000);

        // The program may hear the portal's answers a moment after the backend gave them: until
        // a run reaches the backend, the shortcut is pressed again (a run that began is busy
        // and ignores it; one that found no permission yet touched nothing).
        for (int attempt = 0; attempt < 20; ++attempt) {
            m_gnome.control(QStringLiteral("Activate"), {QStringLiteral("CTRL+SHIFT+e")});
            m_gnome.control(QStringLiteral("Deactivate"), {QStringLiteral("CTRL+SHIFT+e")});
            if (QTest::qWaitFor([&] { return !backend.requests().isEmpty(); }, 1000))
                break;
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_target.text(), QStringLiteral("teh cat, fixed"), 20000);
        QTRY_COMPARE_WITH_TIMEOUT(clipboard(), QStringLiteral("mine"), 10000);
        QTRY_COMPARE(m_gnome.control(QStringLiteral("Held")).toStringList(), QStringList());
        tarnwick.terminate();
        QVERIFY(tarnwick.waitForFinished(10000));
    }

    // Keystrokes are asked for once, and the notice goes when they are allowed. That Ctrl+C and
    // Ctrl+V reach the GTK window and every key is released is shown by the whole run.
    void keystrokesAskedForOnce()
    {
        const uint dialogs = m_gnome.control(QStringLiteral("Dialogs")).toUInt();
        PortalKeystrokePoster poster(m_clock, m_defaults, m_notices, 1, QDBusConnection::sessionBus());
        QVERIFY(!poster.wasAllowedBefore());
        QCOMPARE(m_notices.all().size(), 1);
        QVERIFY(!poster.requestTrust());
        QTRY_COMPARE_WITH_TIMEOUT(poster.state(), PortalKeystrokePoster::State::Allowed, 20000);
        QVERIFY(poster.isProcessTrusted());
        QVERIFY(poster.wasAllowedBefore());
        QCOMPARE(m_notices.all().size(), 0);
        QCOMPARE(m_gnome.control(QStringLiteral("Dialogs")).toUInt(), dialogs + 1);
    }

    // Both shortcuts are bound in one session; a press and a release arrive with their ids.
    void shortcutsBoundAndDelivered()
    {
        Platform::Portal::PortalGlobalShortcuts shortcuts(QDBusConnection::sessionBus());
        QList<HotKeyService::HotKeyEvent> events;
        shortcuts.installEventHandler([&](const HotKeyService::HotKeyEvent &event) {
            events.append(event);
            return HotKeyService::noErr;
        });
        shortcuts.setHandlerListening(true);
        QList<QPair<quint32, int>> statuses;
        shortcuts.setStatusHandler([&](HotKeyService::HotKeyId id, int status) {
            statuses.append({id.id, status});
        });
        QCOMPARE(shortcuts.registerHotKey(keyE, 0x300, {1, 1}), HotKeyService::noErr);
        QCOMPARE(shortcuts.registerHotKey(keyE, 0x900, {1, 2}), HotKeyService::noErr);
        // Refused at once: the Function modifier has no counterpart, a combination is bound once.
        QCOMPARE(shortcuts.registerHotKey(keyE, 0x20100, {1, 3}), HotKeyService::eventHotKeyInvalidErr);
        QCOMPARE(shortcuts.registerHotKey(keyE, 0x300, {1, 4}), HotKeyService::eventHotKeyExistsErr);
        QTRY_COMPARE_WITH_TIMEOUT(statuses.size(), 2, 10000);
        QCOMPARE(
            statuses, (QList<QPair<quint32, int>>({{1, HotKeyService::noErr}, {2, HotKeyService::noErr}})));
        QCOMPARE(m_gnome.control(QStringLiteral("Bound")).toStringList(),
            QStringList(
                {QStringLiteral("CTRL+ALT+e=CTRL+ALT+e"), QStringLiteral("CTRL+SHIFT+e=CTRL+SHIFT+e")}));

        m_gnome.control(QStringLiteral("Activate"), {QStringLiteral("CTRL+ALT+e")});
        m_gnome.control(QStringLiteral("Deactivate"), {QStringLiteral("CTRL+ALT+e")});
        QTRY_COMPARE_WITH_TIMEOUT(events.size(), 2, 10000);
        QCOMPARE(events[0].kind, HotKeyService::EventKind::hotKeyPressed);
        QCOMPARE(events[1].kind, HotKeyService::EventKind::hotKeyReleased);
        QCOMPARE(events[1].hotKeyId, (HotKeyService::HotKeyId {1, 2}));

        // A new shortcut replaces the session: only what is registered now is bound.
        shortcuts.unregisterHotKey(2);
        QTRY_COMPARE_WITH_TIMEOUT(m_gnome.control(QStringLiteral("Bound")).toStringList(),
            QStringList({QStringLiteral("CTRL+SHIFT+e=CTRL+SHIFT+e")}), 10000);
    }

    // A refused dialog: no keystrokes, a plain reason, not asked again at the next start.
    void refusingBackend()
    {
        QVERIFY(m_gnome.restartBackend(false));
        PortalKeystrokePoster poster(m_clock, m_defaults, m_notices, 1, QDBusConnection::sessionBus());
        QVERIFY(poster.wasAllowedBefore());
        poster.start();
        QTRY_COMPARE_WITH_TIMEOUT(poster.state(), PortalKeystrokePoster::State::Refused, 20000);
        QVERIFY(!poster.isProcessTrusted());
        QCOMPARE(m_notices.all().size(), 1);
        QCOMPARE(m_notices.all().first().message,
            QStringLiteral("Keystrokes are not allowed: the permission dialog was refused."));
        QVERIFY(!poster.wasAllowedBefore());
        post(poster, keyV, commandFlag);
        QCOMPARE(m_gnome.control(QStringLiteral("Held")).toStringList(), QStringList());

        Platform::Portal::PortalGlobalShortcuts shortcuts(QDBusConnection::sessionBus());
        int status = HotKeyService::noErr;
        shortcuts.setStatusHandler([&](HotKeyService::HotKeyId, int reported) { status = reported; });
        QCOMPARE(shortcuts.registerHotKey(keyE, 0x300, {1, 1}), HotKeyService::noErr);
        QTRY_COMPARE_WITH_TIMEOUT(status, HotKeyService::eventHotKeyExistsErr, 10000);
    }

    // Version 2: the first start asks; the token it gives is kept, and the next start asks nobody.
    void restoreTokenAsksOnce()
    {
        QVERIFY(m_gnome.useVersion2Frontend());
        Platform::MemoryUserDefaults defaults;
        QString token;
        for (const bool before : {false, true}) {
            PortalKeystrokePoster poster(m_clock, defaults, m_notices, 2, QDBusConnection::sessionBus());
            QCOMPARE(poster.wasAllowedBefore(), before);
            poster.start();
            QTRY_COMPARE_WITH_TIMEOUT(poster.state(), PortalKeystrokePoster::State::Allowed, 20000);
            const QString issued = defaults.value(PortalKeystrokePoster::restoreTokenKey()).toString();
            QVERIFY(!issued.isEmpty() && issued != token);
            token = issued;
        }
        QCOMPARE(m_gnome.control(QStringLiteral("Dialogs")).toUInt(), 1u);
    }

private:
    // Posts a keystroke, running its wait for the user's fingers in virtual time.
    void post(PortalKeystrokePoster &poster, quint16 keyCode, quint64 flags)
    {
        bool done = false;
        [](PortalKeystrokePoster &poster, quint16 keyCode, quint64 flags, bool &done) -> QCoro::Task<> {
            co_await poster.postKeystroke(keyCode, flags);
            done = true;
        }(poster, keyCode, flags, done);
        m_clock.advance(PortalKeystrokePoster::modifierWait);
        QTRY_VERIFY(done);
    }

    HeadlessGnome m_gnome;
    TestX11::TargetClient m_target; // goes before the session
    Platform::ManualClock m_clock;
    Platform::MemoryUserDefaults m_defaults;
    Platform::Notices m_notices;
};

QTEST_GUILESS_MAIN(TestPortal)
#include "tst_portal.moc"
