// The panel, the menu and the tray icon on the real text processor: a menu command runs a whole
// correction against a real backend on 127.0.0.1, and every piece of the interface follows it.
#include "app/AccessibilityChecker.h"
#include "app/MenuBarIcon.h"
#include "app/MenuContent.h"
#include "app/RequestFeedbackHUD.h"
#include "app/TextProcessor.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeScreens.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "testlib/SimulatedFrontApp.h"
#include "testlib/TestHttpServer.h"

#include <QAction>
#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QTest>

#include <functional>

using namespace std::chrono_literals;
using Reply = TestHttpServer::Reply;

Q_DECLARE_METATYPE(FixMode)

namespace {

// What the user sees at one published state, with its virtual time.
struct Seen {
    qint64 at;
    QString status;
    bool commandsEnabled;
    QString icon;
    QString panel; // "spinner", "check", "cross" or "hidden"
    bool operator==(const Seen &) const = default;
};

QString describePanel(const RequestFeedbackHUD &hud)
{
    if (!hud.panel() || !hud.panel()->isVisible())
        return QStringLiteral("hidden");
    switch (hud.panel()->content()) {
    case RequestFeedbackContent::Loading:
        return QStringLiteral("spinner");
    case RequestFeedbackContent::Success:
        return QStringLiteral("check");
    case RequestFeedbackContent::Failure:
        return QStringLiteral("cross");
    }
    return {};
}

QtMessageHandler previousHandler = nullptr;
void quietOffscreen(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        previousHandler(type, context, message);
}

struct Rig {
    Platform::ManualClock clock;
    Platform::FakePasteboard pasteboard;
    Platform::FakeKeystrokePoster keys;
    Platform::FakeAccessibilityTrust trust {true};
    Platform::MemoryUserDefaults defaults;
    Platform::FakeScreens screens;
    QNetworkAccessManager session;
    TestHttpServer server;
    SimulatedFrontApp app {keys, pasteboard, clock};
    std::unique_ptr<TextProcessor> processor;
    // Created in the application context's order: the panel first, the checker before the processor.
    RequestFeedbackHUD hud {clock, screens};
    AccessibilityChecker ax {trust};
    std::unique_ptr<MenuContent> menu;
    MenuBarIcon icon;
    QList<Seen> seen;

    Rig()
    {
        if (!server.listen())
            qFatal("cannot listen on 127.0.0.1");
        screens.setScreens({{{0, 0, 1280, 800}, {0, 0, 1280, 800}}});
        screens.setPointer({400, 300});
        app.setSelectedText(QStringLiteral("teh txt"));
        processor = std::make_unique<TextProcessor>(
            APIClient(server.url(), &session), pasteboard, keys, trust, defaults, clock);
        hud.bind(processor.get());
        menu = std::make_unique<MenuContent>(ax, *processor, clock);
        icon.bind(processor.get());
        QObject::connect(processor.get(), &TextProcessor::stateChanged, processor.get(), [this] { look(); });
    }

    void look()
    {
        seen.append({clock.now().count(), menu->statusAction()->text(), menu->fixAction()->isEnabled(),
            icon.symbolName(), describePanel(hud)});
    }

    // Runs virtual time timer by timer, and lets the real network answer whenever the processor
    // waits for it, until `until` virtual milliseconds or until `stop` holds.
    void runUntil(qint64 until, const std::function<bool()> &stop = {})
    {
        while (!(stop && stop())) {
            if (processor->state() == TextProcessorState::requesting()) {
                QVERIFY(QTest::qWaitFor(
                    [this] { return processor->state() != TextProcessorState::requesting(); }, 10000));
                continue;
            }
            const std::optional<Platform::Clock::Duration> next = clock.nextDue();
            if (!next || next->count() > until)
                break;
            clock.advance(*next - clock.now());
        }
        if (!(stop && stop()))
            clock.advance(std::chrono::milliseconds(until) - clock.now());
    }
};

} // namespace

class TestUiPipeline : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { previousHandler = qInstallMessageHandler(quietOffscreen); }

    void menuCommandRunsACorrectionThatEveryPieceFollows_data()
    {
        QTest::addColumn<FixMode>("mode");
        QTest::newRow("Fix selected text") << FixMode::Fix;
        QTest::newRow("Make selected text formal") << FixMode::Formal;
    }
    void menuCommandRunsACorrectionThatEveryPieceFollows()
    {
        QFETCH(FixMode, mode);
        Rig rig;
        rig.server.setReply(Reply::corrected(QStringLiteral("the text")));
        (mode == FixMode::Fix ? rig.menu->fixAction() : rig.menu->formalAction())->trigger();
        rig.clock.advance(199ms);
        QVERIFY(rig.keys.posted().isEmpty());
        rig.runUntil(5000,
            [&] { return rig.processor->state() == TextProcessorState::idle() && !rig.seen.isEmpty(); });

        const QString ready = QString::fromUtf8("Tarnwick — ready");
        QCOMPARE(rig.seen.size(), 4);
        QCOMPARE(rig.seen.at(0),
            (Seen {200, QString::fromUtf8("Copying…"), false, QStringLiteral("ellipsis.circle"),
                QStringLiteral("spinner")}));
        QCOMPARE(rig.seen.at(1),
            (Seen {200, QString::fromUtf8("Fixing…"), false, QStringLiteral("ellipsis.circle"),
                QStringLiteral("spinner")}));
        QCOMPARE(rig.seen.at(2).status, QString::fromUtf8("Pasting…"));
        QCOMPARE(rig.seen.at(2).panel, QStringLiteral("spinner"));
        QCOMPARE(rig.seen.at(3).status, ready);
        QCOMPARE(rig.seen.at(3).commandsEnabled, true);
        QCOMPARE(rig.seen.at(3).icon, QStringLiteral("text.badge.checkmark"));
        QCOMPARE(rig.seen.at(3).panel, QStringLiteral("check"));
        QCOMPARE(rig.app.document(), QStringLiteral("the text"));
        QCOMPARE(rig.server.requests().size(), 1);
        const QJsonObject body = QJsonDocument::fromJson(rig.server.requests().first().body).object();
        QCOMPARE(body.value(QLatin1String("mode")).toString(), wireString(mode));

        // The check mark goes 0.9 s after the run's end; then nothing runs any more.
        const qint64 end = rig.seen.at(3).at;
        rig.runUntil(end + 899);
        QCOMPARE(describePanel(rig.hud), QStringLiteral("check"));
        rig.runUntil(end + 900);
        QCOMPARE(describePanel(rig.hud), QStringLiteral("hidden"));
        QCOMPARE(rig.clock.pendingTimers(), 0);
    }

    void backendFailureShowsTheCrossAndTheMessage()
    {
        Rig rig;
        rig.server.setReply(Reply::json(
            200, QByteArrayLiteral(R"({"ok":false,"error":"openai_failed","detail":"quota & limits"})")));
        rig.menu->fixAction()->trigger();
        rig.runUntil(10000);

        const QString message = QStringLiteral("Error: openai_failed: quota && limits");
        QCOMPARE(rig.seen.size(), 4); // copying, requesting, error, idle
        const Seen failed = rig.seen.at(2);
        QCOMPARE(failed.status, message);
        QCOMPARE(failed.commandsEnabled, true);
        QCOMPARE(failed.icon, QStringLiteral("exclamationmark.triangle"));
        QCOMPARE(failed.panel, QStringLiteral("cross"));
        // The processor returns to idle 3 s after the failure; the cross went after 2 s.
        const Seen after = rig.seen.at(3);
        QCOMPARE(after.at, failed.at + 3000);
        QCOMPARE(after.status, QString::fromUtf8("Tarnwick — ready"));
        QCOMPARE(after.icon, QStringLiteral("text.badge.checkmark"));
        QCOMPARE(after.panel, QStringLiteral("hidden"));
        QCOMPARE(rig.clock.pendingTimers(), 0);
    }

    void refusedAtOnceWithoutPermissionShowsOnlyTheCross()
    {
        // The checker still says trusted (it is refreshed only by the settings window); the
        // processor asks the system itself and is refused.
        Rig rig;
        rig.trust.setTrusted(false);
        rig.menu->formalAction()->trigger();
        rig.runUntil(1000);
        QCOMPARE(rig.seen.size(), 1);
        QCOMPARE(rig.seen.at(0),
            (Seen {200, QStringLiteral("Error: Accessibility permission not granted"), true,
                QStringLiteral("exclamationmark.triangle"), QStringLiteral("cross")}));
        QVERIFY(rig.keys.posted().isEmpty());
        QVERIFY(rig.server.requests().isEmpty());
        rig.runUntil(5000);
    }
};

QTEST_MAIN(TestUiPipeline)
#include "tst_uipipeline.moc"
