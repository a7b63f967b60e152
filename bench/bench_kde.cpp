// Time from a key typed through KWin's fake input to the hot-key event that kglobalaccel sends us,
// for the press and for the release, and from loading the front-window script to its first report.
// Run inside a private session bus:
//   dbus-run-session -- env TARNWICK_PRIVATE_BUS=1 build/bench/bench_kde [rounds]
#include "HeadlessKWin.h"
#include "TargetClient.h"
#include "platform/kde/FakeInputDevice.h"
#include "platform/kde/KGlobalAccelHotKeyService.h"
#include "platform/kde/KWinFrontWindow.h"
#include "platform/wayland/WaylandConnection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QKeyCombination>
#include <QTextStream>

#include <algorithm>
#include <numeric>

using Platform::HotKeyService;

namespace {

// Runs the event loop until `done` holds; the elapsed time in ms, or -1 after 10 s.
template <typename F> double waitFor(const QElapsedTimer &since, F &&done)
{
    const QDeadlineTimer deadline(10000);
    while (!done()) {
        if (deadline.hasExpired())
            return -1;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return double(since.nsecsElapsed()) / 1e6;
}

void report(const char *name, QList<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const double mean = std::accumulate(ms.cbegin(), ms.cend(), 0.0) / double(ms.size());
    QTextStream(stdout) << name << ": median " << QString::number(ms[ms.size() / 2], 'f', 1) << " ms, mean "
                        << QString::number(mean, 'f', 1) << " ms, max " << QString::number(ms.last(), 'f', 1)
                        << " ms (" << ms.size() << " rounds)\n";
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 50;
    HeadlessKWin kwin;
    if (const QString problem = kwin.start(); !problem.isEmpty()) {
        QTextStream(stderr) << "bench_kde: " << problem << "\n";
        return 1;
    }
    kwin.grantFakeInput(QCoreApplication::applicationFilePath());
    kwin.useFromThisProcess();
    Platform::Wayland::WaylandConnection connection;
    Platform::Kde::FakeInputDevice keyboard(
        connection, QStringLiteral("bench_kde"), QStringLiteral("typing"));
    TestX11::TargetClient target;
    if (!keyboard.isGranted() || !target.start()) {
        QTextStream(stderr) << "bench_kde: no fake input or no target window\n";
        return 1;
    }

    QElapsedTimer scriptTimer;
    scriptTimer.start();
    Platform::Kde::KWinFrontWindow front(QDBusConnection::sessionBus());
    const double scriptMs = waitFor(scriptTimer, [&] { return !front.current().windowClass.isEmpty(); });

    // Ctrl+Alt+K: the K key with Command and Option.
    Platform::Kde::KGlobalAccelHotKeyService hotKeys(QDBusConnection::sessionBus(), [](quint32, quint32) {
        return std::optional<int>(
            QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key_K).toCombined());
    });
    int presses = 0, releases = 0;
    hotKeys.installEventHandler([&](const HotKeyService::HotKeyEvent &event) {
        ++(event.kind == HotKeyService::EventKind::hotKeyPressed ? presses : releases);
        return HotKeyService::noErr;
    });
    hotKeys.setHandlerListening(true);
    if (hotKeys.registerHotKey(0x28, 0x900, {1, 1}) != HotKeyService::noErr) {
        QTextStream(stderr) << "bench_kde: the shortcut was refused\n";
        return 1;
    }
    QList<double> pressMs, releaseMs;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer timer;
        keyboard.key(29, true);
        keyboard.key(56, true);
        timer.start();
        keyboard.key(37, true);
        keyboard.flush();
        pressMs.append(waitFor(timer, [&] { return presses > i; }));
        timer.start();
        keyboard.key(37, false);
        keyboard.flush();
        releaseMs.append(waitFor(timer, [&] { return releases > i; }));
        keyboard.key(56, false);
        keyboard.key(29, false);
        keyboard.flush();
    }
    if (pressMs.contains(-1) || releaseMs.contains(-1) || scriptMs < 0) {
        QTextStream(stderr) << "bench_kde: an event did not arrive within 10 s\n";
        return 1;
    }
    report("shortcut pressed", pressMs);
    report("shortcut released", releaseMs);
    QTextStream(stdout) << "front-window script, load to first report: " << QString::number(scriptMs, 'f', 1)
                        << " ms\n";
    return 0;
}
