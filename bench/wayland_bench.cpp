// Release of the shortcut to the corrected text in a native Wayland window, under a headless
// sway: the real tarnwick, an instant loopback backend (it upper-cases the text) and the Qt test
// target on Qt's wayland platform. The target stamps the moment its text changes on the steady
// clock, compared with the moment the key release was sent.
//   build/bench/wayland_bench [runs]   (default 10; as root, like the tests)
#include "testlib/TestHttpServer.h"

#include "HeadlessSway.h"
#include "TargetClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>

using namespace std::chrono_literals;

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    if (const QString why = TestWayland::HeadlessSway::unavailableReason(); !why.isEmpty()) {
        std::fprintf(stderr, "wayland_bench: %s\n", qPrintable(why));
        return 1;
    }
    TestWayland::HeadlessSway sway;
    QString error;
    if (!sway.start("xwayland disable\n", &error)) {
        std::fprintf(stderr, "wayland_bench: %s\n", qPrintable(error));
        return 1;
    }
    sway.useFromThisProcess();
    TestWayland::Keyboard keyboard;

    TestHttpServer backend;
    backend.listen();
    backend.setHandler([](const TestHttpServer::Request &request) {
        const QString text
            = QJsonDocument::fromJson(request.body).object().value(QStringLiteral("text")).toString();
        return TestHttpServer::Reply::corrected(text.toUpper());
    });

    QTemporaryDir home;
    QProcess tarnwick;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.insert(QStringLiteral("HOME"), home.path());
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    environment.insert(QStringLiteral("QUARVEL_BACKEND_URL"), backend.url().toString());
    tarnwick.setProcessEnvironment(environment);
    tarnwick.start(QStringLiteral(TARNWICK_BINARY), {});
    QByteArray said;
    const QDeadlineTimer deadline(30s);
    while (!said.contains("no system tray is available") && !deadline.hasExpired()
        && tarnwick.state() != QProcess::NotRunning) {
        tarnwick.waitForReadyRead(100);
        said += tarnwick.readAllStandardError();
    }

    qputenv("QT_QPA_PLATFORM", "wayland");
    TestX11::TargetClient target;
    const bool started = target.start();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!started || !said.contains("no system tray")) {
        std::fprintf(stderr, "wayland_bench: the target or tarnwick did not start\n%s", said.constData());
        return 1;
    }

    QList<double> latencies;
    for (int run = 0; run < runs; ++run) {
        const QString text = QStringLiteral("latency run %1").arg(run);
        target.setText(text);
        keyboard.press(TestWayland::keyLeftCtrl);
        keyboard.press(TestWayland::keyLeftShift);
        keyboard.press(TestWayland::keyE);
        keyboard.release(TestWayland::keyE);
        const qint64 released = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
        keyboard.release(TestWayland::keyLeftShift);
        keyboard.release(TestWayland::keyLeftCtrl);
        const std::optional<qint64> replaced = target.waitForText(text.toUpper(), 5s);
        if (replaced)
            latencies.append(double(*replaced - released) / 1000.0);
        else
            std::fprintf(stderr, "run %d: no corrected text\n", run);
        // The clipboard is given back at least 250 ms after the paste: let the run end first.
        QTest::qWait(600);
    }
    tarnwick.terminate();
    tarnwick.waitForFinished(10000);
    if (latencies.isEmpty())
        return 1;
    std::sort(latencies.begin(), latencies.end());
    std::printf(
        "latency over %d runs (release of Ctrl+Shift+E to corrected text in a native Wayland Qt window "
        "under headless sway): median %.1f ms, min %.1f ms, max %.1f ms\n",
        int(latencies.size()), latencies.at(latencies.size() / 2), latencies.first(), latencies.last());
    return 0;
}
