// Start-up of the installed program, as a user meets it: from starting `tarnwick` to ready, that
// is both shortcuts held and the backend answering a correction. The backend is the bundled one,
// started by Tarnwick on a free loopback port, so its start is included.
//
//   bash bench/startup.sh [build-dir] [starts]
//   (installs the build into a temporary prefix, then runs this on a private X server and bus)
#include "XTestDriver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace std::chrono_literals;

namespace {

quint16 freePort()
{
    QTcpServer server;
    return server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0;
}

// A correction answered with 200 by whatever listens on `port`.
bool backendAnswers(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(50))
        return false;
    const QByteArray body = R"({"text":"teh cat","mode":"fix"})";
    socket.write("POST /api/fix-text HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                 "Connection: close\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    QByteArray reply;
    while (reply.size() < 12 && socket.waitForReadyRead(5000))
        reply += socket.readAll();
    return reply.startsWith("HTTP/1.1 200");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fputs("usage: startup_bench <installed tarnwick> [starts]\n", stderr);
        return 2;
    }
    const QString program = QString::fromLocal8Bit(argv[1]);
    const int starts = argc > 2 ? std::max(1, atoi(argv[2])) : 10;
    TestX11::XTestDriver driver;
    if (!driver.isConnected()) {
        std::fputs("startup_bench: needs an X server in DISPLAY\n", stderr);
        return 1;
    }

    QList<qint64> ready;
    int collisions = 0;
    for (int start = 0; start < starts; ++start) {
        QTemporaryDir home;
        QDir(home.path()).mkpath(QStringLiteral("config"));
        QDir(home.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(home.filePath(QStringLiteral("run")),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const quint16 port = freePort();
        QProcess tarnwick;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUARVEL_BACKEND_URL"), QStringLiteral("http://127.0.0.1:%1").arg(port));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        tarnwick.setProcessEnvironment(env);
        tarnwick.setStandardErrorFile(home.filePath(QStringLiteral("stderr.log")));

        QElapsedTimer timer;
        timer.start();
        tarnwick.start(program, {});
        qint64 grabbed = -1;
        qint64 answered = -1;
        QByteArray output;
        const QDeadlineTimer deadline(30s);
        while (!deadline.hasExpired() && tarnwick.state() != QProcess::NotRunning
            && (grabbed < 0 || answered < 0) && !output.contains("Error registering hotkey")) {
            output += tarnwick.readAllStandardOutput();
            if (grabbed < 0
                && driver.isKeyGrabbedByAnother(TestX11::keyE, TestX11::controlMask | TestX11::shiftMask)
                && driver.isKeyGrabbedByAnother(TestX11::keyE, TestX11::controlMask | TestX11::mod1Mask))
                grabbed = timer.elapsed();
            if (answered < 0 && backendAnswers(port))
                answered = timer.elapsed();
            QCoreApplication::processEvents();
            // Each probe holds the combination for a moment; polling without a pause would hold it
            // much of the time and take it from the program as it starts.
            QThread::msleep(5);
        }
        const bool ended = tarnwick.state() == QProcess::NotRunning;
        tarnwick.terminate();
        tarnwick.waitForFinished(10000);
        output += tarnwick.readAllStandardOutput();
        // Our probe grabs each combination for a moment; when that coincides with the program's
        // own grab, the X server refuses the program's. Such a start is not counted.
        if (output.contains("Error registering hotkey") && ++collisions <= 3 * starts) {
            --start;
            continue;
        }
        if (grabbed < 0 || answered < 0) {
            QFile log(home.filePath(QStringLiteral("stderr.log")));
            log.open(QIODevice::ReadOnly);
            const QString how = ended ? QStringLiteral("it ended with status %1").arg(tarnwick.exitCode())
                                      : QStringLiteral("timed out");
            std::fprintf(stderr,
                "startup_bench: start %d was not ready (shortcuts %lld ms, backend %lld ms; %s):\n%s",
                start + 1, static_cast<long long>(grabbed), static_cast<long long>(answered), qPrintable(how),
                log.readAll().constData());
            return 1;
        }
        std::printf("start %2d: shortcuts held after %4lld ms, backend answering after %4lld ms\n", start + 1,
            static_cast<long long>(grabbed), static_cast<long long>(answered));
        ready.append(std::max(grabbed, answered));
    }
    std::sort(ready.begin(), ready.end());
    const qint64 median = ready.size() % 2
        ? ready.at(ready.size() / 2)
        : (ready.at(ready.size() / 2 - 1) + ready.at(ready.size() / 2)) / 2;
    std::printf("starts not counted because our probe took a shortcut first: %d\n", collisions);
    std::printf("ready (both) after: median %lld ms, fastest %lld ms, slowest %lld ms over %lld starts\n",
        static_cast<long long>(median), static_cast<long long>(ready.first()),
        static_cast<long long>(ready.last()), static_cast<long long>(ready.size()));
    return 0;
}
