#include "platform/x11/FreedesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

using Platform::X11::FreedesktopNotifier;

namespace {

// A notification server with exactly the freedesktop signature: a call with other argument
// types does not reach it.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        QString appName;
        uint replacesId;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout;
    };
    QList<Call> calls;

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
        const QString &body, const QStringList &actions, const QVariantMap &hints, int expireTimeout)
    {
        calls.append({appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout});
        return 40 + uint(calls.size());
    }
};

} // namespace

class TestDesktopNotifier : public QObject {
    Q_OBJECT

    QProcess m_daemon;
    QString m_address;

private Q_SLOTS:
    void initTestCase()
    {
        // The session bus of whoever runs the tests is never used.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tarnwick-test-bus");
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        QVERIFY2(!daemon.isEmpty(), "dbus-daemon is needed (scripts/setup.sh installs it)");
        m_daemon.start(daemon,
            {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                QStringLiteral("--print-address=1")});
        QVERIFY(m_daemon.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_daemon.canReadLine(), 10000);
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        QVERIFY(!m_address.isEmpty());
    }

    void cleanupTestCase()
    {
        m_daemon.kill();
        m_daemon.waitForFinished();
    }

    // Without a bus, or on a bus never connected, a notification is dropped without an error.
    void noBusIsNotAnError()
    {
        FreedesktopNotifier unset(QStringLiteral("Tarnwick"));
        unset.notify(QStringLiteral("Summary"), QStringLiteral("Body"));
        FreedesktopNotifier disconnected(
            QStringLiteral("Tarnwick"), QDBusConnection(QStringLiteral("never connected")));
        disconnected.notify(QStringLiteral("Summary"), QStringLiteral("Body"));
        QTest::qWait(50);
        QCOMPARE(unset.lastId(), 0u);
        QCOMPARE(disconnected.lastId(), 0u);
    }

    void sendsTheFreedesktopCallAndReplacesItsLastNotification()
    {
        QDBusConnection serverBus = QDBusConnection::connectToBus(m_address, QStringLiteral("server"));
        QVERIFY(serverBus.isConnected());
        FakeNotificationServer server;
        QVERIFY(serverBus.registerObject(
            QStringLiteral("/org/freedesktop/Notifications"), &server, QDBusConnection::ExportAllSlots));

        QDBusConnection clientBus = QDBusConnection::connectToBus(m_address, QStringLiteral("client"));
        QVERIFY(clientBus.isConnected());
        FreedesktopNotifier notifier(QStringLiteral("Tarnwick"), clientBus);

        // Nobody serves the name yet: the error answer leaves the notifier as it was.
        notifier.notify(QStringLiteral("Lost"), QStringLiteral("No server"));
        // The bus handles one connection's messages in order: once this answer is back, the lost
        // call has been refused.
        const QDBusMessage ping = clientBus.call(QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
        QCOMPARE(ping.type(), QDBusMessage::ReplyMessage);
        QVERIFY(serverBus.registerService(QStringLiteral("org.freedesktop.Notifications")));

        notifier.notify(
            QStringLiteral("Corrected text ready"), QStringLiteral("Line one\nline <two> & three"));
        QTRY_COMPARE(notifier.lastId(), 41u);
        QCOMPARE(server.calls.size(), 1);
        const FakeNotificationServer::Call &first = server.calls.first();
        QCOMPARE(first.appName, QStringLiteral("Tarnwick"));
        QCOMPARE(first.replacesId, 0u);
        QCOMPARE(first.summary, QStringLiteral("Corrected text ready"));
        QCOMPARE(first.body, QStringLiteral("Line one\nline <two> & three"));
        QVERIFY(first.actions.isEmpty());
        QCOMPARE(first.hints.value(QStringLiteral("transient")), QVariant(true));
        QVERIFY(first.expireTimeout > 0);

        notifier.notify(QStringLiteral("Again"), QStringLiteral("Second"));
        QTRY_COMPARE(server.calls.size(), 2);
        QCOMPARE(server.calls.at(1).replacesId, 41u);
        QTRY_COMPARE(notifier.lastId(), 42u);

        serverBus.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("server"));
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    }
};

QTEST_GUILESS_MAIN(TestDesktopNotifier)
#include "tst_desktopnotifier.moc"
