// Measures the running product under an X server (run it through scripts/with-xvfb.sh):
//   - start-up: from starting tarnwick to both shortcuts grabbed, and to its tray icon docked
//     (a tray host, trayer, is started first when it is installed);
//   - latency: from the release of Ctrl+Shift+E to the corrected text in a target window, with
//     an instant loopback backend, over a number of runs; with TARNWICK_TRACE=1, also the phases
//     of the median run as the program traced them, from the release;
//   - idle cost: CPU time and resident memory of the running program over 10 s, before and after
//     the runs.
//
//   scripts/with-xvfb.sh build/bench/pipeline_bench [runs [target command...]]
//
// The target is the test target window, or the program given after the number of runs, which
// must answer the test target's commands (tests/waylandtarget/gtk_target.py: a GTK editor).
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

// The phases the program traced (lines "tarnwick-trace <ms> <phase>") in `output`, with their
// offsets in ms from `fromMicros` on the same monotonic clock.
QList<std::pair<double, QByteArray>> tracedPhases(const QByteArray &output, qint64 fromMicros)
{
    QList<std::pair<double, QByteArray>> phases;
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith("tarnwick-trace "))
            continue;
        const QList<QByteArray> words = line.split(' ');
        phases.append(
            {words.value(1).toDouble() - double(fromMicros) / 1000.0, line.mid(line.indexOf(' ', 15) + 1)});
    }
    return phases;
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
    QStringList targetCommand;
    for (int i = 2; i < argc; ++i)
        targetCommand.append(QString::fromLocal8Bit(argv[i]));

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
    if (!target.start(targetCommand.value(0), targetCommand.mid(1))) {
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
    // Its standard error holds the trace lines, when asked for.
    tarnwick.setProcessChannelMode(QProcess::SeparateChannels);
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
    QList<QList<std::pair<double, QByteArray>>> traces;
    target.activate();
    for (int run = 0; run < runs; ++run) {
        const QString text = QStringLiteral("run %1 of the latency benchmark").arg(run);
        target.setText(text);
        tarnwick.readAllStandardError();
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
        traces.append(tracedPhases(tarnwick.readAllStandardError(), released));
        traces.last().append({latencies.last(), "text changed in the target"});
    }
    std::printf(
        "latency over %d runs (release of Ctrl+Shift+E to corrected text in the target): median %.1f ms, "
        "p90 %.1f ms, max %.1f ms\n",
        runs, percentile(latencies, 0.5), percentile(latencies, 0.9), percentile(latencies, 1.0));
    std::printf("runs:");
    for (double latency : std::as_const(latencies))
        std::printf(" %.1f", latency);
    std::printf(" ms\n");
    // The phases of the run whose latency is the median, from the release.
    const double median = percentile(latencies, 0.5);
    const qsizetype medianRun = latencies.indexOf(median);
    if (traces.at(medianRun).size() > 1) {
        std::printf("trace of run %lld (ms after the release):\n", static_cast<long long>(medianRun));
        std::sort(traces[medianRun].begin(), traces[medianRun].end());
        for (const auto &[offset, phase] : std::as_const(traces.at(medianRun)))
            std::printf("  %7.1f  %s\n", offset, phase.constData());
    }

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
