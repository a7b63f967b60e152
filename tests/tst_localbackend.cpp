// The bundled backend started on demand, with real child processes: the real backend where
// nothing listens, a real HTTP server or a plain TCP server where something does.
#include "app/LocalBackend.h"
#include "platform/qt/Notices.h"
#include "platform/fake/ManualClock.h"
#include "testlib/TestHttpServer.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/types.h>

using State = LocalBackend::State;

namespace {

// A loopback port where nothing listens (for as long as nobody else takes it).
quint16 freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}

QUrl local(quint16 port)
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
}

bool answersHttp(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(1000))
        return false;
    socket.write("GET /api/fix-text HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    return socket.waitForReadyRead(5000) && socket.readAll().startsWith("HTTP/1.1 405");
}

struct Rig {
    Platform::ManualClock clock;
    Platform::Notices notices;
    QString notice() const { return notices.all().isEmpty() ? QString() : notices.all().first().message; }
};

} // namespace

class TestLocalBackend : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startedWhereNothingListensRestartedAndStopped()
    {
        Rig rig;
        const quint16 port = freePort();
        qint64 first = 0;
        {
            LocalBackend backend(
                local(port), QStringLiteral(TARNWICK_BACKEND_BINARY), rig.clock, rig.notices);
            backend.start();
            QTRY_COMPARE(backend.state(), State::Running);
            first = backend.processId();
            QTRY_VERIFY_WITH_TIMEOUT(answersHttp(port), 30000);

            ::kill(pid_t(first), SIGKILL);
            QTRY_COMPARE(backend.state(), State::Waiting);
            QCOMPARE(rig.notice(), QStringLiteral("The bundled backend stopped: it ended by a signal"));
            rig.clock.advance(LocalBackend::firstBackoff);
            QTRY_COMPARE(backend.state(), State::Running);
            QVERIFY(backend.processId() != first);
            QTRY_VERIFY_WITH_TIMEOUT(answersHttp(port), 30000);
            rig.clock.advance(LocalBackend::stableUptime);
            QVERIFY(rig.notices.all().isEmpty());
            first = backend.processId();
        }
        // Stopped and reaped when Tarnwick ends.
        QCOMPARE(::kill(pid_t(first), 0), -1);
        QVERIFY(!answersHttp(port));
    }

    void quickFailuresWaitLongerEachTime()
    {
        Rig rig;
        QList<State> states;
        LocalBackend backend(local(freePort()), QStringLiteral("/bin/false"), rig.clock, rig.notices);
        connect(&backend, &LocalBackend::stateChanged, this, [&states](State state) { states << state; });
        backend.start();
        for (const auto backoff : {LocalBackend::firstBackoff, 2 * LocalBackend::firstBackoff}) {
            QTRY_COMPARE(backend.state(), State::Waiting);
            QCOMPARE(rig.notice(), QStringLiteral("The bundled backend stopped: it exited with status 1"));
            rig.clock.advance(backoff - std::chrono::milliseconds(1));
            QCOMPARE(backend.state(), State::Waiting);
            rig.clock.advance(std::chrono::milliseconds(1));
            QTRY_COMPARE(backend.state(), State::Waiting);
        }
        QCOMPARE(states.count(State::Running), 3);
    }

    void someoneElsesBackendIsUsedAsItIs()
    {
        Rig rig;
        TestHttpServer server;
        QVERIFY(server.listen());
        server.setReply(TestHttpServer::Reply::json(405, "{}"));
        LocalBackend backend(server.url(), QStringLiteral(TARNWICK_BACKEND_BINARY), rig.clock, rig.notices);
        backend.start();
        QTRY_COMPARE(backend.state(), State::External);
        QCOMPARE(backend.processId(), 0);
        QVERIFY(rig.notices.all().isEmpty());
    }

    void whatKeepsItFromRunningIsANotice_data()
    {
        QTest::addColumn<QByteArray>("greeting"); // what a TCP server on the port says; none: no server
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("message");
        const QString backend = QStringLiteral(TARNWICK_BACKEND_BINARY);
        QTest::newRow("port held by a program that speaks first")
            << QByteArray("SSH-2.0-OpenSSH_9.2\r\n") << backend << QStringLiteral("not a correction backend");
        QTest::newRow("port held by a silent program")
            << QByteArray("") << backend << QStringLiteral("not a correction backend");
        QTest::newRow("binary missing") << QByteArray() << QStringLiteral("/nonexistent/tarnwick-backend")
                                        << QStringLiteral("/nonexistent/tarnwick-backend is missing");
        QTest::newRow("binary not executable")
            << QByteArray() << QString() << QStringLiteral("is not executable");
    }
    void whatKeepsItFromRunningIsANotice()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(QString, program);
        Rig rig;
        QTemporaryDir directory;
        if (program.isEmpty()) {
            program = directory.filePath(QStringLiteral("tarnwick-backend"));
            QFile file(program);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n") > 0);
        }
        QTcpServer other;
        quint16 port = freePort();
        if (!greeting.isNull()) {
            QVERIFY(other.listen(QHostAddress::LocalHost));
            port = other.serverPort();
            connect(&other, &QTcpServer::newConnection, this, [&other, greeting] {
                QTcpSocket *socket = other.nextPendingConnection();
                if (!greeting.isEmpty()) {
                    socket->write(greeting);
                    socket->disconnectFromHost();
                }
            });
        }
        LocalBackend backend(local(port), program, rig.clock, rig.notices);
        backend.start();
        if (greeting.isEmpty() && !greeting.isNull()) {
            QTRY_VERIFY(other.findChild<QTcpSocket *>());
            rig.clock.advance(LocalBackend::probeTimeout);
        }
        QTRY_COMPARE(backend.state(), State::Failed);
        QFETCH(QString, message);
        QVERIFY2(rig.notice().contains(message), qPrintable(rig.notice()));
        QVERIFY(!rig.notices.all().first().remedy.isEmpty());
    }

    void onlyALoopbackHttpAddressIsOurs_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("local");
        QTest::newRow("127.0.0.1") << QStringLiteral("http://127.0.0.1:8787") << true;
        QTest::newRow("127.1.2.3") << QStringLiteral("http://127.1.2.3:8787/api") << true;
        QTest::newRow("::1") << QStringLiteral("http://[::1]:8787") << true;
        QTest::newRow("localhost") << QStringLiteral("http://localhost") << true;
        QTest::newRow("https") << QStringLiteral("https://127.0.0.1:8787") << false;
        QTest::newRow("another host") << QStringLiteral("http://192.168.1.5:8787") << false;
        QTest::newRow("a name") << QStringLiteral("http://backend.example:8787") << false;
    }
    void onlyALoopbackHttpAddressIsOurs()
    {
        QFETCH(QString, url);
        QFETCH(bool, local);
        QCOMPARE(LocalBackend::isLocal(QUrl(url)), local);
    }
};

QTEST_GUILESS_MAIN(TestLocalBackend)
#include "tst_localbackend.moc"
