#include "app/TextProcessor.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "testlib/StateNames.h"
#include "testlib/SimulatedFrontApp.h"
#include "testlib/TaskResult.h"
#include "testlib/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace std::chrono_literals;
using Platform::PasteboardItem;
using Reply = TestHttpServer::Reply;
using Behaviour = SimulatedFrontApp::CopyBehaviour;
using PasteBehaviour = SimulatedFrontApp::PasteBehaviour;
using Keystroke = Platform::FakeKeystrokePoster::Keystroke;

Q_DECLARE_METATYPE(FixMode)
Q_DECLARE_METATYPE(SimulatedFrontApp::CopyBehaviour)
Q_DECLARE_METATYPE(SimulatedFrontApp::PasteBehaviour)
Q_DECLARE_METATYPE(TestHttpServer::Reply)

namespace {

const QString noText = QStringLiteral("No text selected");
const Keystroke copyKeystroke {8, Platform::AppKitModifier::command};
const Keystroke pasteKeystroke {9, Platform::AppKitModifier::command};

using TestLib::describe;

// A published state and the virtual time at which it was published.
using Change = QPair<QString, qint64>;
using Changes = QList<Change>;

// A user's pasteboard with several items of several types, binary ones included.
QList<PasteboardItem> richContents()
{
    return {
        PasteboardItem {{QStringLiteral("text/plain"), QByteArray("original")},
            {QStringLiteral("text/html"), QByteArray("<b>original</b>")},
            {QStringLiteral("application/x-binary"), QByteArray("\x00\x01\xff\x00", 4)}},
        PasteboardItem {{QStringLiteral("image/png"), SimulatedFrontApp::imageBytes()}},
        PasteboardItem {{QStringLiteral("text/uri-list"), QByteArray("file:///tmp/a\r\n")},
            {QStringLiteral("text/plain"), QByteArray("/tmp/a")}},
    };
}

// The processor on fakes in virtual time, a simulated front application and a real backend on
// 127.0.0.1. Every published state is recorded with its virtual time.
struct Rig {
    Platform::ManualClock clock;
    Platform::FakePasteboard pasteboard;
    Platform::FakeKeystrokePoster keys;
    Platform::FakeAccessibilityTrust trust;
    Platform::MemoryUserDefaults defaults;
    QNetworkAccessManager session;
    TestHttpServer server;
    SimulatedFrontApp app {keys, pasteboard, clock};
    Changes changes;
    std::unique_ptr<TextProcessor> processor;

    Rig()
    {
        if (!server.listen())
            qFatal("cannot listen on 127.0.0.1");
        server.setReply(Reply::corrected(QStringLiteral("The corrected text.")));
        app.setDocument(QStringLiteral("Before teh txt after"), 7, 7);
        createProcessor(server.url());
    }

    void createProcessor(const QUrl &baseURL)
    {
        processor = std::make_unique<TextProcessor>(
            APIClient(baseURL, &session), pasteboard, keys, trust, defaults, clock);
        QObject::connect(processor.get(), &TextProcessor::stateChanged, processor.get(),
            [this](const TextProcessorState &state) {
                changes.append({describe(state), now()});
            });
    }

    qint64 now() const { return clock.now().count(); }
    TextProcessorState state() const { return processor->state(); }

    std::shared_ptr<bool> start(FixMode mode = FixMode::Fix) { return TestLib::track(processor->run(mode)); }

    // Lets the real network deliver the backend's answer.
    bool waitForBackend()
    {
        return QTest::qWaitFor([this] { return state() != TextProcessorState::requesting(); }, 10000);
    }

    // Advances virtual time up to `target`, timer by timer; the backend is not waited for.
    void advanceTo(qint64 target)
    {
        while (clock.nextDue() && clock.nextDue()->count() <= target)
            clock.advance(*clock.nextDue() - clock.now());
        clock.advance(std::chrono::milliseconds(target) - clock.now());
    }

    // Runs virtual time and the network until `done`, for at most 20 virtual seconds.
    bool finish(const std::shared_ptr<bool> &done)
    {
        const auto end = clock.now() + 20s;
        while (!*done) {
            if (processor && state() == TextProcessorState::requesting() && server.waitingCount() == 0) {
                if (!waitForBackend())
                    return false;
                continue;
            }
            const std::optional<Platform::Clock::Duration> next = clock.nextDue();
            if (!next || *next > end)
                return *done;
            clock.advance(*next - clock.now());
        }
        return true;
    }
};

} // namespace

class TestTextProcessor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void successPublishesEachPhaseOnce_data()
    {
        QTest::addColumn<FixMode>("mode");
        QTest::newRow("fix") << FixMode::Fix;
        QTest::newRow("formal") << FixMode::Formal;
    }
    void successPublishesEachPhaseOnce()
    {
        QFETCH(FixMode, mode);
        Rig rig;
        rig.pasteboard.writeItems(richContents());
        // Leading and trailing whitespace go to the backend as they were selected.
        rig.app.setDocument(QStringLiteral("Say:  teh txt \n and more"), 4, 11);
        rig.server.setReply(Reply::corrected(QStringLiteral("the text")));
        QSignalSpy spy(rig.processor.get(), &TextProcessor::stateChanged);

        const auto done = rig.start(mode);
        QVERIFY(rig.finish(done));

        QCOMPARE(spy.size(), 4);
        QCOMPARE(spy.at(0).at(0).value<TextProcessorState>(), TextProcessorState::copying());
        QCOMPARE(spy.at(1).at(0).value<TextProcessorState>(), TextProcessorState::requesting());
        QCOMPARE(spy.at(2).at(0).value<TextProcessorState>(), TextProcessorState::pasting());
        QCOMPARE(spy.at(3).at(0).value<TextProcessorState>(), TextProcessorState::idle());
        // The copy is seen as it happens, the pasteboard given back 250 ms after the paste.
        QCOMPARE(rig.changes,
            (Changes {{QStringLiteral("copying"), 0}, {QStringLiteral("requesting"), 0},
                {QStringLiteral("pasting"), 0}, {QStringLiteral("idle"), 250}}));

        QCOMPARE(rig.server.requests().size(), 1);
        const QJsonObject body = QJsonDocument::fromJson(rig.server.requests().first().body).object();
        QCOMPARE(body.value(QLatin1String("text")).toString(), QStringLiteral("  teh txt \n"));
        QCOMPARE(body.value(QLatin1String("mode")).toString(), wireString(mode));
        QCOMPARE(rig.keys.posted(), (QList<Keystroke> {copyKeystroke, pasteKeystroke}));
        QCOMPARE(rig.app.document(), QStringLiteral("Say:the text and more"));
        QCOMPARE(rig.pasteboard.items(), richContents());
        QCOMPARE(rig.pasteboard.setStringCount(), 1);
        QCOMPARE(rig.processor->lastError(), std::nullopt);
        QCOMPARE(rig.clock.pendingTimers(), 0);
    }

    void busyRunIsRefused_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::newRow("copying") << QStringLiteral("copying");
        QTest::newRow("requesting") << QStringLiteral("requesting");
        QTest::newRow("pasting") << QStringLiteral("pasting");
    }
    void busyRunIsRefused()
    {
        QFETCH(QString, phase);
        Rig rig;
        rig.server.setReply(Reply::neverAnswer());
        if (phase == QLatin1String("copying"))
            rig.app.setCopyBehaviour(Behaviour::Late, 5ms);
        const auto first = rig.start();
        if (phase != QLatin1String("copying")) {
            rig.clock.advance(10ms);
            QTRY_COMPARE(rig.server.waitingCount(), 1);
        }
        if (phase == QLatin1String("pasting")) {
            rig.server.answerWaiting(Reply::corrected(QStringLiteral("x")));
            QVERIFY(rig.waitForBackend());
        }
        QCOMPARE(describe(rig.state()), phase);

        const int changes = int(rig.changes.size());
        const qsizetype posted = rig.keys.posted().size();
        const auto second = rig.start(FixMode::Formal);
        QVERIFY2(*second, "a refused run returns at once");
        QCOMPARE(rig.changes.size(), changes);
        QCOMPARE(rig.keys.posted().size(), posted);

        rig.server.setReply(Reply::corrected(QStringLiteral("x")));
        rig.server.answerWaiting(Reply::corrected(QStringLiteral("x")));
        QVERIFY(rig.finish(first));
        QCOMPARE(rig.state(), TextProcessorState::idle());
        QCOMPARE(rig.server.requests().size(), 1);
        QCOMPARE(rig.app.pastedTexts(), QList<QString> {QStringLiteral("x")});
    }

    void errorDisplayIsOvertakenByNewRun()
    {
        Rig rig;
        rig.app.setCopyBehaviour(Behaviour::Never);
        const auto first = rig.start();
        rig.advanceTo(1000);
        QCOMPARE(rig.state(), TextProcessorState::error(noText));

        // The new run waits for the backend past the moment the old error would have ended.
        rig.app.setCopyBehaviour(Behaviour::Immediate);
        rig.server.setReply(Reply::neverAnswer());
        const auto second = rig.start();
        rig.advanceTo(1010);
        QTRY_COMPARE(rig.server.waitingCount(), 1);
        rig.advanceTo(3600);
        QVERIFY(*first);
        QCOMPARE(rig.state(), TextProcessorState::requesting());

        rig.server.answerWaiting(Reply::corrected(QStringLiteral("ok")));
        QVERIFY(rig.finish(second));
        QCOMPARE(rig.changes,
            (Changes {{QStringLiteral("copying"), 0}, {QStringLiteral("error: ") + noText, 500},
                {QStringLiteral("copying"), 1000}, {QStringLiteral("requesting"), 1000},
                {QStringLiteral("pasting"), 3600}, {QStringLiteral("idle"), 3850}}));
    }

    void differentErrorIsNotClearedByOldTimer()
    {
        Rig rig;
        rig.trust.setTrusted(false);
        const auto first = rig.start();
        rig.advanceTo(1000);
        rig.trust.setTrusted(true);
        rig.app.setCopyBehaviour(Behaviour::Never);
        const auto second = rig.start();
        rig.advanceTo(10000);
        QVERIFY(*first && *second);
        QCOMPARE(rig.changes,
            (Changes {{QStringLiteral("error: Accessibility permission not granted"), 0},
                {QStringLiteral("copying"), 1000}, {QStringLiteral("error: ") + noText, 1500},
                {QStringLiteral("idle"), 4500}}));
    }

    void sameErrorTwiceEndsWithTheFirstTimer()
    {
        Rig rig;
        rig.app.setCopyBehaviour(Behaviour::Never);
        const auto first = rig.start();
        rig.advanceTo(1000);
        const auto second = rig.start();
        rig.advanceTo(10000);
        QVERIFY(*first && *second);
        QCOMPARE(rig.changes,
            (Changes {{QStringLiteral("copying"), 0}, {QStringLiteral("error: ") + noText, 500},
                {QStringLiteral("copying"), 1000}, {QStringLiteral("error: ") + noText, 1500},
                {QStringLiteral("idle"), 3500}}));
    }

    void noTextSelected_data()
    {
        QTest::addColumn<QString>("selection");
        QTest::addColumn<SimulatedFrontApp::CopyBehaviour>("behaviour");
        QTest::addColumn<int>("copyDelay");
        QTest::addColumn<int>("failsAt");
        QTest::newRow("spaces") << QStringLiteral("   ") << Behaviour::Immediate << 0 << 0;
        QTest::newRow("line breaks and tabs")
            << QStringLiteral("\n\t \r\n") << Behaviour::Immediate << 0 << 0;
        QTest::newRow("Unicode spaces")
            << QStringLiteral("\u00a0\u2003\u2028\u3000\u0085") << Behaviour::Immediate << 0 << 0;
        QTest::newRow("empty selection") << QString() << Behaviour::Immediate << 0 << 0;
        QTest::newRow("image only, seen at once") << QStringLiteral("x") << Behaviour::ImageOnly << 0 << 0;
        QTest::newRow("never copies: 50 polls") << QStringLiteral("x") << Behaviour::Never << 0 << 500;
        QTest::newRow("copies too late") << QStringLiteral("x") << Behaviour::Late << 501 << 500;
    }
    void noTextSelected()
    {
        QFETCH(QString, selection);
        QFETCH(SimulatedFrontApp::CopyBehaviour, behaviour);
        QFETCH(int, copyDelay);
        QFETCH(int, failsAt);
        Rig rig;
        rig.pasteboard.writeItems(richContents());
        rig.app.setSelectedText(selection);
        rig.app.setCopyBehaviour(behaviour, std::chrono::milliseconds(copyDelay));
        QList<PasteboardItem> shownWith;
        QObject::connect(rig.processor.get(), &TextProcessor::stateChanged, rig.processor.get(),
            [&](const TextProcessorState &state) {
                if (state.isError())
                    shownWith = rig.pasteboard.items();
            });

        const auto done = rig.start();
        if (failsAt > 0) {
            rig.advanceTo(failsAt - 1);
            QCOMPARE(rig.state(), TextProcessorState::copying());
        }
        rig.advanceTo(failsAt);
        QCOMPARE(rig.state(), TextProcessorState::error(noText));
        QCOMPARE(rig.processor->lastError(), TextProcessorError {noText});
        QCOMPARE(shownWith, richContents());
        rig.advanceTo(failsAt + 3000);
        QVERIFY(*done);
        QCOMPARE(rig.state(), TextProcessorState::idle());
        QCOMPARE(rig.keys.posted(), QList<Keystroke> {copyKeystroke});
        QCOMPARE(rig.server.requests().size(), 0);
        if (behaviour != Behaviour::Late)
            QCOMPARE(rig.pasteboard.items(), richContents());
    }

    void lateCopyWithinTheWindow_data()
    {
        QTest::addColumn<int>("copyDelay");
        QTest::addColumn<bool>("tells");
        QTest::addColumn<int>("seenAt");
        QTest::newRow("5 ms") << 5 << true << 5;
        QTest::newRow("5 ms, found by the next look") << 5 << false << 10;
        QTest::newRow("495 ms") << 495 << true << 495;
        QTest::newRow("500 ms, before the last look") << 500 << false << 500;
    }
    void lateCopyWithinTheWindow()
    {
        QFETCH(int, copyDelay);
        QFETCH(bool, tells);
        QFETCH(int, seenAt);
        Rig rig;
        rig.pasteboard.setTellsChanges(tells);
        rig.app.setCopyBehaviour(Behaviour::Late, std::chrono::milliseconds(copyDelay));
        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.changes.at(1), Change(QStringLiteral("requesting"), seenAt));
        QCOMPARE(rig.app.pastedTexts(), QList<QString> {QStringLiteral("The corrected text.")});
    }

    void pasteboardIsGivenBackByteForByte_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<bool>("republished");
        QTest::newRow("success") << QStringLiteral("success") << true;
        QTest::newRow("backend error") << QStringLiteral("backend error") << true;
        QTest::newRow("no text, the copy changed it") << QStringLiteral("no text") << true;
        QTest::newRow("no text, nothing changed it") << QStringLiteral("nothing copied") << false;
    }
    void pasteboardIsGivenBackByteForByte()
    {
        QFETCH(QString, outcome);
        QFETCH(bool, republished);
        Rig rig;
        QList<PasteboardItem> contents = richContents();
        // A type whose data its owner cannot give is left out; the rest comes back.
        contents[0].append({QStringLiteral("application/x-promised"), QByteArray("never delivered")});
        const QString user = QStringLiteral("the user's editor");
        rig.pasteboard.writeItemsAs(user, contents);
        rig.pasteboard.setUnreadableTypes({QStringLiteral("application/x-promised")});
        if (outcome == QLatin1String("backend error"))
            rig.server.setReply(Reply::json(500, "{\"error\":\"openai_failed\"}"));
        if (outcome == QLatin1String("no text"))
            rig.app.setCopyBehaviour(Behaviour::ImageOnly);
        if (outcome == QLatin1String("nothing copied"))
            rig.app.setCopyBehaviour(Behaviour::Never);
        const qint64 countBefore = rig.pasteboard.changeCount();

        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        // Left alone, the owner keeps all of it, even what could not be read, also after we quit.
        QCOMPARE(rig.pasteboard.items(), republished ? richContents() : contents);
        QCOMPARE(rig.pasteboard.owner(), republished ? Platform::FakePasteboard::ownOwner() : user);
        QCOMPARE(rig.pasteboard.changeCount() == countBefore, !republished);
        rig.processor.reset();
        rig.pasteboard.ownerQuits(Platform::FakePasteboard::ownOwner());
        QCOMPARE(rig.pasteboard.items().isEmpty(), republished);
    }

    void emptyPasteboardStaysEmpty_data()
    {
        QTest::addColumn<bool>("succeeds");
        QTest::newRow("success") << true;
        QTest::newRow("failure") << false;
    }
    void emptyPasteboardStaysEmpty()
    {
        QFETCH(bool, succeeds);
        Rig rig;
        if (!succeeds)
            rig.server.setReply(Reply::json(200, "{\"ok\":false}"));
        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        QVERIFY(rig.pasteboard.items().isEmpty());
        QCOMPARE(rig.state(), TextProcessorState::idle());
        QCOMPARE(rig.processor->lastError().has_value(), !succeeds);
    }

    void dashesReplacedOnlyWhenAsked_data()
    {
        QTest::addColumn<QVariant>("setting");
        QTest::addColumn<QString>("pasted");
        const QString dashes = QStringLiteral("well\u2014known \u2013 fact \u2014\u2013");
        QTest::newRow("on") << QVariant(true) << QStringLiteral("well-known - fact --");
        QTest::newRow("off") << QVariant(false) << dashes;
        QTest::newRow("absent") << QVariant() << dashes;
    }
    void dashesReplacedOnlyWhenAsked()
    {
        QFETCH(QVariant, setting);
        QFETCH(QString, pasted);
        Rig rig;
        rig.defaults.setValue(QStringLiteral("replaceEmDash"), setting);
        rig.server.setReply(Reply::corrected(QStringLiteral("well\u2014known \u2013 fact \u2014\u2013")));
        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.app.pastedTexts(), QList<QString> {pasted});
    }

    void dashSettingIsReadAtPasteTime()
    {
        Rig rig;
        rig.server.setReply(Reply::neverAnswer());
        const auto done = rig.start();
        rig.clock.advance(10ms);
        QTRY_COMPARE(rig.server.waitingCount(), 1);
        rig.defaults.setValue(QStringLiteral("replaceEmDash"), true);
        rig.server.answerWaiting(Reply::corrected(QStringLiteral("a\u2014b")));
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.app.pastedTexts(), QList<QString> {QStringLiteral("a-b")});
    }

    void emptyCorrectionReplacesSelectionWithNothing()
    {
        Rig rig;
        rig.server.setReply(Reply::corrected(QString()));
        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.app.document(), QStringLiteral("Before  after"));
        QCOMPARE(rig.keys.posted(), (QList<Keystroke> {copyKeystroke, pasteKeystroke}));
    }

    void lastErrorOutlivesLaterSuccess()
    {
        Rig rig;
        QSignalSpy errorSpy(rig.processor.get(), &TextProcessor::lastErrorChanged);
        rig.server.setReply(Reply::json(500, "not json"));
        auto done = rig.start();
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.processor->lastError(), TextProcessorError {QStringLiteral("HTTP 500")});
        QCOMPARE(errorSpy.size(), 1);
        // Bindings and the settings window read it as a property.
        QCOMPARE(rig.processor->property("lastError").value<std::optional<TextProcessorError>>(),
            TextProcessorError {QStringLiteral("HTTP 500")});

        rig.server.setReply(Reply::corrected(QStringLiteral("fine")));
        done = rig.start();
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.app.pastedTexts(), QList<QString> {QStringLiteral("fine")});
        QCOMPARE(rig.processor->lastError(), TextProcessorError {QStringLiteral("HTTP 500")});
        QCOMPARE(errorSpy.size(), 1);

        rig.processor->setLastError(std::nullopt);
        QCOMPARE(rig.processor->lastError(), std::nullopt);
        QCOMPARE(errorSpy.size(), 2);
    }

    void untrustedRunTouchesNothing()
    {
        Rig rig;
        rig.pasteboard.writeItems(richContents());
        const qint64 changeCount = rig.pasteboard.changeCount();
        rig.trust.setTrusted(false);
        auto done = rig.start();
        const QString message = QStringLiteral("Accessibility permission not granted");
        QCOMPARE(rig.state(), TextProcessorState::error(message));
        QCOMPARE(rig.processor->lastError(), TextProcessorError {message});
        rig.advanceTo(2999);
        QCOMPARE(rig.state(), TextProcessorState::error(message));
        rig.advanceTo(3000);
        QVERIFY(*done);
        QCOMPARE(rig.state(), TextProcessorState::idle());
        QVERIFY(rig.keys.posted().isEmpty());
        QCOMPARE(rig.pasteboard.changeCount(), changeCount);
        QCOMPARE(rig.server.requests().size(), 0);

        // Trust is asked again at every run.
        rig.trust.setTrusted(true);
        done = rig.start();
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.app.pastedTexts().size(), 1);
    }

    void backendFailureRestoresBeforeShowingError_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("message");
        QTest::newRow("400 bad_request")
            << Reply::json(400, "{\"error\":\"bad_request\"}") << QStringLiteral("Bad request");
        QTest::newRow("not JSON") << Reply::json(200, "<html>") << QStringLiteral("Invalid server response");
        QTest::newRow("not ok") << Reply::json(
            200, "{\"ok\":false,\"error\":\"openai_failed\",\"detail\":\"quota\"}")
                                << QStringLiteral("openai_failed: quota");
        QTest::newRow("closed mid-reply") << Reply::closeMidBody(200, QByteArray(2000, ' ')) << QString();
        QTest::newRow("refused") << Reply() << QStringLiteral("Connection refused");
    }
    void backendFailureRestoresBeforeShowingError()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, message);
        Rig rig;
        if (message == QLatin1String("Connection refused")) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            QUrl url = rig.server.url();
            url.setPort(probe.serverPort());
            probe.close();
            rig.createProcessor(url);
        }
        rig.server.setReply(reply);
        rig.pasteboard.writeItems(richContents());
        QList<PasteboardItem> shownWith;
        QObject::connect(rig.processor.get(), &TextProcessor::stateChanged, rig.processor.get(),
            [&](const TextProcessorState &state) {
                if (state.isError())
                    shownWith = rig.pasteboard.items();
            });
        const QString document = rig.app.document();

        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.changes.size(), 4);
        QVERIFY(rig.changes.at(2).first.startsWith(QLatin1String("error: ")));
        if (!message.isEmpty())
            QCOMPARE(rig.changes.at(2).first, QStringLiteral("error: ") + message);
        QCOMPARE(rig.changes.at(3), Change(QStringLiteral("idle"), 3000));
        QCOMPARE(shownWith, richContents());
        QCOMPARE(rig.keys.posted(), QList<Keystroke> {copyKeystroke});
        QCOMPARE(rig.app.document(), document);
    }

    void restoreWaitsForTheLazyFetch_data()
    {
        QTest::addColumn<bool>("lazy");
        QTest::addColumn<SimulatedFrontApp::PasteBehaviour>("paste");
        QTest::addColumn<int>("pasteDelay");
        QTest::addColumn<int>("restoredAfter");
        QTest::addColumn<QString>("pasted");
        const QString fixedText = QStringLiteral("The corrected text.");
        QTest::newRow("fetched at once") << true << PasteBehaviour::Immediate << 0 << 250 << fixedText;
        QTest::newRow("fetched before 250 ms") << true << PasteBehaviour::Late << 120 << 250 << fixedText;
        QTest::newRow("fetched at 400 ms, then grace")
            << true << PasteBehaviour::Late << 400 << 450 << fixedText;
        QTest::newRow("fetched near the cap") << true << PasteBehaviour::Late << 1980 << 2000 << fixedText;
        QTest::newRow("never fetched: cap") << true << PasteBehaviour::Never << 0 << 2000 << QString();
        // A pasteboard that hands its contents over at once is restored after the fixed wait, so
        // an application reading later gets the old contents back: what the fetch check avoids.
        QTest::newRow("eager pasteboard, late reader")
            << false << PasteBehaviour::Late << 400 << 250 << QStringLiteral("original");
    }
    void restoreWaitsForTheLazyFetch()
    {
        QFETCH(bool, lazy);
        QFETCH(SimulatedFrontApp::PasteBehaviour, paste);
        QFETCH(int, pasteDelay);
        QFETCH(int, restoredAfter);
        QFETCH(QString, pasted);
        Rig rig;
        rig.pasteboard.writeItems(richContents());
        rig.pasteboard.setLazyFetch(lazy);
        rig.app.setPasteBehaviour(paste, std::chrono::milliseconds(pasteDelay));
        QList<PasteboardItem> atIdle;
        QObject::connect(rig.processor.get(), &TextProcessor::stateChanged, rig.processor.get(),
            [&](const TextProcessorState &state) {
                if (state == TextProcessorState::idle())
                    atIdle = rig.pasteboard.items();
            });
        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        rig.advanceTo(rig.now() + 5000);

        QCOMPARE(rig.changes.size(), 4);
        QCOMPARE(rig.changes.at(3).second - rig.changes.at(2).second, restoredAfter);
        QCOMPARE(atIdle, richContents());
        QCOMPARE(rig.app.pastedTexts(), pasted.isEmpty() ? QList<QString>() : QList<QString> {pasted});
    }

    void processorDestroyedMidRunEndsQuietly_data()
    {
        QTest::addColumn<QString>("phase");
        QTest::newRow("polling") << QStringLiteral("polling");
        QTest::newRow("requesting") << QStringLiteral("requesting");
        QTest::newRow("pasting") << QStringLiteral("pasting");
        QTest::newRow("waiting for the fetch") << QStringLiteral("fetch");
        QTest::newRow("showing an error") << QStringLiteral("error");
    }
    // The program quitting mid-run: nothing more is sent, and the user's pasteboard is theirs again.
    void processorDestroyedMidRunEndsQuietly()
    {
        QFETCH(QString, phase);
        Rig rig;
        rig.pasteboard.writeItems(richContents());
        rig.pasteboard.setLazyFetch(true);
        rig.app.setPasteBehaviour(PasteBehaviour::Never);
        if (phase == QLatin1String("error") || phase == QLatin1String("polling"))
            rig.app.setCopyBehaviour(Behaviour::Never);
        rig.server.setReply(Reply::neverAnswer());
        const auto done = rig.start();
        if (phase == QLatin1String("polling")) {
            rig.clock.advance(5ms);
        } else if (phase == QLatin1String("error")) {
            rig.advanceTo(600);
            QVERIFY(rig.state().isError());
        } else {
            rig.clock.advance(10ms);
            QTRY_COMPARE(rig.server.waitingCount(), 1);
            if (phase != QLatin1String("requesting")) {
                rig.server.answerWaiting(Reply::corrected(QStringLiteral("x")));
                QVERIFY(rig.waitForBackend());
                rig.advanceTo(rig.now() + (phase == QLatin1String("fetch") ? 500 : 100));
                QCOMPARE(rig.state(), TextProcessorState::pasting());
            }
        }
        QVERIFY(!*done);
        const qsizetype posted = rig.keys.posted().size();
        const int changes = int(rig.changes.size());

        rig.processor.reset();
        QCOMPARE(rig.pasteboard.items(), richContents());
        const qint64 restoredAt = rig.pasteboard.changeCount();
        rig.server.answerWaiting(Reply::corrected(QStringLiteral("late")));
        rig.advanceTo(rig.now() + 10000);
        // The run ends at its next step: a timer above, or the backend's late answer.
        QTRY_VERIFY(*done);
        QCOMPARE(rig.keys.posted().size(), posted);
        QCOMPARE(rig.changes.size(), changes);
        QCOMPARE(rig.clock.pendingTimers(), 0);
        QCOMPARE(rig.pasteboard.changeCount(), restoredAt);
    }
};

QTEST_GUILESS_MAIN(TestTextProcessor)
#include "tst_textprocessor.moc"
