// Measures the running product under an X server (run it through scripts/with-xvfb.sh):
//   - start-up: from starting tarnwick to both shortcuts grabbed, and to its tray icon docked
//     (a tray host, trayer, is started first when it is installed);
//   - latency: from the release of Ctrl+Shift+E to the corrected text in a target window, with
//     an instant loopback backend, over a number of runs;
//   - idle cost: CPU time and resident memory of the running program over 10 s, before and after
//     the runs.
//
//   scripts/with-xvfb.sh build/bench/pipeline_bench [runs]
#include "testlib/TestHttpServer.h"

#include "TargetClient.h"
#include "XTestDriver.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

qint64 steadyMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct ProcessSample {
    double cpuSeconds = 0; // user + system
    qint64 rssKiB = 0;
};

ProcessSample sample(qint64 pid)
{
    ProcessSample result;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray line = stat.readAll();
        // Fields after the command name (which may hold spaces) start after the last ')'.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        const double ticks = double(sysconf(_SC_CLK_TCK));
        result.cpuSeconds = (fields.value(11).toDouble() + fields.value(12).toDouble()) / ticks;
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                result.rssKiB = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return result;
}

void idleCost(qint64 pid, const char *when)
{
    const ProcessSample before = sample(pid);
    TestX11::spin(10s);
    const ProcessSample after = sample(pid);
    std::printf("idle %s: CPU %.3f s over 10 s (%.2f %%), RSS %lld KiB\n", when,
        after.cpuSeconds - before.cpuSeconds, (after.cpuSeconds - before.cpuSeconds) * 10.0,
        static_cast<long long>(after.rssKiB));
}

double percentile(QList<double> values, double p)
{
    std::sort(values.begin(), values.end());
    if (values.isEmpty())
        return 0;
    const qsizetype index
        = std::min<qsizetype>(values.size() - 1, qsizetype(p * double(values.size() - 1) + 0.5));
    return values.at(index);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 20;

    TestX11::XTestDriver driver;
    if (!driver.isConnected()) {
        std::fputs("pipeline_bench: needs an X server in DISPLAY (scripts/with-xvfb.sh)\n", stderr);
        return 1;
    }
    QTemporaryDir home;
    QDir(home.path()).mkpath(QStringLiteral("config"));
    QDir(home.path()).mkpath(QStringLiteral("run"));
    QFile::setPermissions(home.filePath(QStringLiteral("run")),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    TestHttpServer backend;
    backend.listen();
    backend.setHandler([](const TestHttpServer::Request &request) {
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        return TestHttpServer::Reply::json(200,
            QJsonDocument(
                QJsonObject {{QStringLiteral("ok"), true},
                    {QStringLiteral("text"), body.value(QStringLiteral("text")).toString().toUpper()}})
                .toJson(QJsonDocument::Compact));
    });

    QProcess trayer;
    if (!QStandardPaths::findExecutable(QStringLiteral("trayer")).isEmpty()) {
        trayer.start(QStringLiteral("trayer"),
            {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                QStringLiteral("--height"), QStringLiteral("24")});
        trayer.waitForStarted(5000);
        TestX11::spin(1s);
    }

    TestX11::TargetClient target;
    if (!target.start()) {
        std::fputs("pipeline_bench: the target window did not start\n", stderr);
        return 1;
    }

    QProcess tarnwick;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUARVEL_BACKEND_URL"), backend.url().toString());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("run")));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    tarnwick.setProcessEnvironment(env);
    tarnwick.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer startTimer;
    startTimer.start();
    tarnwick.start(QStringLiteral(TARNWICK_BINARY), {});
    if (!tarnwick.waitForStarted(5000)) {
        std::fputs("pipeline_bench: tarnwick did not start\n", stderr);
        return 1;
    }
    qint64 grabbedMs = -1;
    qint64 dockedMs = -1;
    const QDeadlineTimer deadline(20s);
    while (
        !deadline.hasExpired() && (grabbedMs < 0 || (trayer.state() == QProcess::Running && dockedMs < 0))) {
        if (grabbedMs < 0
            && driver.isKeyGrabbedByAnother(TestX11::keyE, TestX11::controlMask | TestX11::shiftMask)
            && driver.isKeyGrabbedByAnother(TestX11::keyE, TestX11::controlMask | TestX11::mod1Mask))
            grabbedMs = startTimer.elapsed();
        if (dockedMs < 0 && trayer.state() == QProcess::Running
            && driver.hasWindowOfProcessInside(tarnwick.processId(), trayer.processId()))
            dockedMs = startTimer.elapsed();
        TestX11::spin(5ms);
    }
    std::printf("start-up: shortcuts grabbed after %lld ms", static_cast<long long>(grabbedMs));
    if (trayer.state() == QProcess::Running)
        std::printf(", tray icon docked after %lld ms", static_cast<long long>(dockedMs));
    std::printf("\n");
    if (grabbedMs < 0)
        return 1;

    TestX11::spin(2s);
    idleCost(tarnwick.processId(), "after start-up");

    QList<double> latencies;
    target.activate();
    for (int run = 0; run < runs; ++run) {
        const QString text = QStringLiteral("run %1 of the latency benchmark").arg(run);
        target.setText(text);
        driver.press(TestX11::keyControlL);
        driver.press(TestX11::keyShiftL);
        driver.press(TestX11::keyE);
        TestX11::spin(20ms);
        driver.release(TestX11::keyE);
        const qint64 released = steadyMicros();
        driver.release(TestX11::keyShiftL);
        driver.release(TestX11::keyControlL);
        const std::optional<qint64> replaced = target.waitForText(text.toUpper(), 5s);
        if (!replaced) {
            std::fprintf(stderr, "pipeline_bench: run %d did not replace the text\n", run);
            return 1;
        }
        latencies.append(double(*replaced - released) / 1000.0);
        // The run restores the clipboard 250 ms after pasting; let it finish before the next one.
        TestX11::spin(700ms);
    }
    // The only fixed wait before the corrected text is in place: the first look at the clipboard
    // comes 10 ms after the copy keystroke.
    constexpr double fixedWaitMs = 10.0;
    std::printf(
        "latency over %d runs (release of Ctrl+Shift+E to corrected text in the target): median %.1f ms, "
        "p90 %.1f ms, max %.1f ms; minus the fixed 10 ms poll: median %.1f ms\n",
        runs, percentile(latencies, 0.5), percentile(latencies, 0.9), percentile(latencies, 1.0),
        percentile(latencies, 0.5) - fixedWaitMs);

    TestX11::spin(3s);
    idleCost(tarnwick.processId(), "after the runs");

    tarnwick.terminate();
    tarnwick.waitForFinished(5000);
    if (trayer.state() != QProcess::NotRunning) {
        trayer.terminate();
        trayer.waitForFinished(2000);
    }
    return 0;
}
