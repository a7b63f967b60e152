// Measures one full run of the text processor: copy, request, paste, restore. The platform is the
// in-memory fakes with a manual clock, so the fixed waits (polls, 250 ms) cost nothing; the
// backend is a real HTTP server on 127.0.0.1 in its own thread. The same number of bare backend
// calls is timed too, so that the processor's own work is what the two differ by.
#include "app/TextProcessor.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "testlib/SimulatedFrontApp.h"
#include "testlib/TestHttpServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace std::chrono_literals;

namespace {

qint64 threadCpuNs()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Sample {
    qint64 wallNs;
    qint64 cpuNs;
};

struct Summary {
    double wallMedianUs, wallMeanUs, cpuMedianUs, cpuMeanUs;
};

Summary summarize(std::vector<Sample> samples)
{
    auto stat = [&](auto member) {
        std::vector<qint64> v;
        for (const Sample &s : samples)
            v.push_back(s.*member);
        std::sort(v.begin(), v.end());
        double sum = 0;
        for (qint64 x : v)
            sum += double(x);
        return std::pair<double, double> {double(v[v.size() / 2]) / 1000.0, sum / double(v.size()) / 1000.0};
    };
    const auto [wallMedian, wallMean] = stat(&Sample::wallNs);
    const auto [cpuMedian, cpuMean] = stat(&Sample::cpuNs);
    return {wallMedian, wallMean, cpuMedian, cpuMean};
}

QCoro::Task<> bareCall(APIClient api, QEventLoop &loop, bool &ok)
{
    const FixTextResult result = co_await api.fixText(QStringLiteral("teh txt"), FixMode::Fix);
    ok = result.hasValue();
    loop.quit();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 2000;
    const int warmup = std::min(100, runs);

    // The backend lives on its own thread so that its work is not counted as ours.
    QThread serverThread;
    auto *anchor = new QObject;
    anchor->moveToThread(&serverThread);
    serverThread.start();
    TestHttpServer *server = nullptr;
    QUrl url;
    QMetaObject::invokeMethod(
        anchor,
        [&] {
            server = new TestHttpServer;
            server->setReply(TestHttpServer::Reply::json(200, "{\"ok\":true,\"text\":\"the text\"}"));
            if (server->listen())
                url = server->url();
        },
        Qt::BlockingQueuedConnection);
    if (url.isEmpty()) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1\n");
        return 1;
    }

    Platform::ManualClock clock;
    Platform::FakePasteboard pasteboard;
    Platform::FakeKeystrokePoster keys;
    Platform::FakeAccessibilityTrust trust;
    Platform::MemoryUserDefaults defaults;
    defaults.setValue(QStringLiteral("replaceEmDash"), true);
    QNetworkAccessManager session;
    SimulatedFrontApp front(keys, pasteboard, clock);
    const APIClient api(url, &session);
    TextProcessor processor(api, pasteboard, keys, trust, defaults, clock);

    // A user's pasteboard worth saving: three items, a few types each.
    const QList<Platform::PasteboardItem> contents {{{QStringLiteral("text/plain"), QByteArray(200, 'a')},
                                                        {QStringLiteral("text/html"), QByteArray(400, 'b')}},
        {{QStringLiteral("image/png"), QByteArray(64 * 1024, '\x89')}},
        {{QStringLiteral("text/uri-list"), QByteArray("file:///tmp/a\r\n")}}};

    QEventLoop loop;
    QObject::connect(&processor, &TextProcessor::stateChanged, &loop, [&](const TextProcessorState &state) {
        if (state == TextProcessorState::pasting())
            loop.quit();
    });

    auto oneRun = [&]() -> bool {
        pasteboard.writeItems(contents);
        front.setDocument(QStringLiteral("Before teh txt after"), 7, 7);
        processor.run(FixMode::Fix);
        clock.advance(10ms); // the copy is seen at the first poll; the request goes out
        if (processor.state() == TextProcessorState::requesting())
            loop.exec(); // the backend answers; the processor pastes
        clock.advance(250ms); // the pasteboard is given back
        return processor.state() == TextProcessorState::idle() && front.pastedTexts().size() > 0;
    };

    auto bareRun = [&]() -> bool {
        bool ok = false;
        QEventLoop callLoop;
        bareCall(api, callLoop, ok);
        if (!ok)
            callLoop.exec();
        return ok;
    };

    // A run that never reaches the backend: the selection is blank. Save, copy, poll, restore,
    // error display: the processor's own work with no network at all.
    auto blankRun = [&]() -> bool {
        pasteboard.writeItems(contents);
        front.setDocument(QStringLiteral("   "), 0, 3);
        processor.run(FixMode::Fix);
        clock.advance(10ms);
        clock.advance(3000ms);
        return processor.state() == TextProcessorState::idle() && pasteboard.items() == contents;
    };

    // Interleaved, so that all see the same state of the network stack and of the machine.
    std::vector<Sample> full, bare, blank;
    for (int i = 0; i < warmup + runs; ++i) {
        for (int kind : {0, 1, 2}) {
            QElapsedTimer wall;
            wall.start();
            const qint64 cpu = threadCpuNs();
            if (!(kind == 0 ? oneRun() : kind == 1 ? bareRun() : blankRun())) {
                std::fprintf(stderr, "run %d did not succeed\n", i);
                return 1;
            }
            // No outer event loop runs here, so objects released with deleteLater() (the
            // finished replies) are deleted by hand, as the application's own loop would.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            if (i >= warmup)
                (kind == 0          ? full
                        : kind == 1 ? bare
                                    : blank)
                    .push_back({wall.nsecsElapsed(), threadCpuNs() - cpu});
        }
    }

    QMetaObject::invokeMethod(
        anchor,
        [&] {
            delete server;
            anchor->deleteLater();
        },
        Qt::BlockingQueuedConnection);
    serverThread.quit();
    serverThread.wait();

    const Summary f = summarize(full);
    const Summary b = summarize(bare);
    const Summary n = summarize(blank);
    std::printf("runs: %d (after %d warm-up runs)\n", runs, warmup);
    std::printf("%-34s %12s %12s %12s %12s\n", "per run, main thread (us)", "wall median", "wall mean",
        "CPU median", "CPU mean");
    std::printf("%-34s %12.1f %12.1f %12.1f %12.1f\n", "full processor run", f.wallMedianUs, f.wallMeanUs,
        f.cpuMedianUs, f.cpuMeanUs);
    std::printf("%-34s %12.1f %12.1f %12.1f %12.1f\n", "backend call alone (HTTP round trip)", b.wallMedianUs,
        b.wallMeanUs, b.cpuMedianUs, b.cpuMeanUs);
    std::printf("%-34s %12.1f %12.1f %12.1f %12.1f\n", "processor's own work (difference)",
        f.wallMedianUs - b.wallMedianUs, f.wallMeanUs - b.wallMeanUs, f.cpuMedianUs - b.cpuMedianUs,
        f.cpuMeanUs - b.cpuMeanUs);
    std::printf("%-34s %12.1f %12.1f %12.1f %12.1f\n", "run without backend (blank text)", n.wallMedianUs,
        n.wallMeanUs, n.cpuMedianUs, n.cpuMeanUs);
    return 0;
}
