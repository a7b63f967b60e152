#include "app/TextProcessor.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeDesktopNotifier.h"
#include "platform/fake/FakeFrontWindow.h"
#include "platform/fake/FakeKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakePrimarySelection.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/qt/TerminalTable.h"
#include "testlib/SimulatedFrontApp.h"
#include "testlib/StateNames.h"
#include "testlib/TaskResult.h"
#include "testlib/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

using namespace std::chrono_literals;
using Platform::FrontWindowInfo;
using Platform::PasteboardItem;
using Reply = TestHttpServer::Reply;
using Behaviour = SimulatedFrontApp::CopyBehaviour;
using PasteBehaviour = SimulatedFrontApp::PasteBehaviour;
using Keystroke = Platform::FakeKeystrokePoster::Keystroke;
using TestLib::describe;

namespace {

const QString noText = QStringLiteral("No text selected");
const QString untrusted = QStringLiteral("Accessibility permission not granted");
const Keystroke copyKeystroke {8, Platform::AppKitModifier::command};
const Keystroke pasteKeystroke {9, Platform::AppKitModifier::command};
const Keystroke shiftInsert {0x72, Platform::AppKitModifier::shift};
constexpr quint64 terminalWindow = 0x1400007;
constexpr quint64 otherWindow = 0x2200003;

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

// A terminal emulator in front, as far as keystrokes reach it: Ctrl+C interrupts its program,
// Shift+Insert pastes the primary selection (or the clipboard, as konsole does) at the cursor,
// possibly late. Everything else is typed into the program.
struct SimulatedTerminal {
    enum class Source { Primary, Clipboard, Nothing };

    Platform::FakeKeystrokePoster &keys;
    Platform::FakePrimarySelection &primary;
    Platform::FakePasteboard &pasteboard;
    Platform::Clock &clock;
    Source pasteFrom = Source::Primary;
    Platform::Clock::Duration pasteDelay {0};
    bool interrupted = false;
    QStringList typed;
    std::vector<Platform::TimerPtr> timers;

    SimulatedTerminal(Platform::FakeKeystrokePoster &k, Platform::FakePrimarySelection &p,
        Platform::FakePasteboard &b, Platform::Clock &c)
        : keys(k)
        , primary(p)
        , pasteboard(b)
        , clock(c)
    {
        keys.setListener([this](const Keystroke &keystroke) { onKeystroke(keystroke); });
    }
    ~SimulatedTerminal() { keys.setListener(nullptr); }

    void onKeystroke(const Keystroke &keystroke)
    {
        if (keystroke.keyCode == copyKeystroke.keyCode
            && (keystroke.flags & Platform::AppKitModifier::command))
            interrupted = true;
        else if (keystroke == shiftInsert && pasteDelay > 0ms)
            timers.push_back(clock.singleShot(pasteDelay, [this] { paste(); }));
        else if (keystroke == shiftInsert)
            paste();
        else
            typed.append(QStringLiteral("key %1").arg(keystroke.keyCode));
    }
    void paste()
    {
        std::optional<QString> text;
        if (pasteFrom == Source::Primary)
            text = primary.fetch();
        if (pasteFrom == Source::Clipboard) {
            text = pasteboard.string();
            pasteboard.markFetched();
        }
        if (text)
            typed.append(*text);
    }
};

// The processor on fakes in virtual time, a real backend on 127.0.0.1, and in front either a
// simulated application (the default) or, after useTerminal(), an xterm whose selection is on the
// primary selection. Every published state is recorded with its virtual time.
struct Rig {
    Platform::ManualClock clock;
    Platform::FakePasteboard pasteboard;
    Platform::FakeKeystrokePoster keys;
    Platform::FakeAccessibilityTrust trust;
    Platform::MemoryUserDefaults defaults;
    Platform::FakeFrontWindow front;
    Platform::FakePrimarySelection primary;
    Platform::FakeDesktopNotifier notifier;
    QNetworkAccessManager session;
    TestHttpServer server;
    SimulatedFrontApp app {keys, pasteboard, clock};
    std::optional<SimulatedTerminal> terminal;
    Changes changes;
    std::unique_ptr<TextProcessor> processor;

    Rig()
    {
        if (!server.listen())
            qFatal("cannot listen on 127.0.0.1");
        server.setReply(Reply::corrected(QStringLiteral("The corrected text.")));
        app.setDocument(QStringLiteral("Before teh txt after"), 7, 7);
        front.setCurrent(FrontWindowInfo {otherWindow, QStringLiteral("Gedit")});
        createProcessor(server.url());
    }

    void createProcessor(const QUrl &baseURL, bool terminalMode = true)
    {
        processor = std::make_unique<TextProcessor>(
            APIClient(baseURL, &session), pasteboard, keys, trust, defaults, clock);
        if (terminalMode)
            processor->setTerminalServices(front, primary, notifier);
        QObject::connect(processor.get(), &TextProcessor::stateChanged, processor.get(),
            [this](const TextProcessorState &state) {
                changes.append({describe(state), now()});
            });
    }

    void useTerminal(const QString &windowClass = QStringLiteral("XTerm"),
        const std::optional<QString> &selection = QStringLiteral("Ths is a tset"))
    {
        terminal.emplace(keys, primary, pasteboard, clock);
        server.setReply(Reply::corrected(QStringLiteral("This is a test")));
        pasteboard.writeItems(userClipboard());
        pasteboard.setLazyFetch(true);
        front.setCurrent(FrontWindowInfo {terminalWindow, windowClass});
        primary.select(terminalWindow, selection);
    }
    static QList<PasteboardItem> userClipboard()
    {
        return {PasteboardItem {{QStringLiteral("text/plain"), QByteArray("the user's own")},
            {QStringLiteral("text/html"), QByteArray("<i>the user's own</i>")}}};
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
    QJsonObject sentBody() const
    {
        return server.requests().isEmpty() ? QJsonObject()
                                           : QJsonDocument::fromJson(server.requests().first().body).object();
    }
    // What the pasteboard held whenever a state matching `when` was published.
    std::shared_ptr<QList<PasteboardItem>> pasteboardWhen(
        std::function<bool(const TextProcessorState &)> when)
    {
        auto seen = std::make_shared<QList<PasteboardItem>>();
        QObject::connect(processor.get(), &TextProcessor::stateChanged, processor.get(),
            [this, seen, when](const TextProcessorState &state) {
                if (when(state))
                    *seen = pasteboard.items();
            });
        return seen;
    }
};

bool isError(const TextProcessorState &state)
{
    return state.isError();
}

} // namespace

Q_DECLARE_METATYPE(FixMode)
Q_DECLARE_METATYPE(SimulatedFrontApp::CopyBehaviour)
Q_DECLARE_METATYPE(SimulatedFrontApp::PasteBehaviour)
Q_DECLARE_METATYPE(SimulatedTerminal::Source)
Q_DECLARE_METATYPE(TestHttpServer::Reply)

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
        QCOMPARE(spy.at(2).at(0).value<TextProcessorState>(), TextProcessorState::pasting());
        // The copy is seen as it happens, the pasteboard given back 250 ms after the paste.
        QCOMPARE(rig.changes,
            (Changes {{QStringLiteral("copying"), 0}, {QStringLiteral("requesting"), 0},
                {QStringLiteral("pasting"), 0}, {QStringLiteral("idle"), 250}}));
        QCOMPARE(rig.server.requests().size(), 1);
        QCOMPARE(rig.sentBody().value(QLatin1String("text")).toString(), QStringLiteral("  teh txt \n"));
        QCOMPARE(rig.sentBody().value(QLatin1String("mode")).toString(), wireString(mode));
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
        QTest::addColumn<bool>("inTerminal");
        QTest::newRow("copying") << QStringLiteral("copying") << false;
        QTest::newRow("requesting") << QStringLiteral("requesting") << false;
        QTest::newRow("pasting") << QStringLiteral("pasting") << false;
        QTest::newRow("requesting, terminal") << QStringLiteral("requesting") << true;
    }
    void busyRunIsRefused()
    {
        QFETCH(QString, phase);
        QFETCH(bool, inTerminal);
        Rig rig;
        if (inTerminal)
            rig.useTerminal();
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
        const int lookups = rig.front.lookups();
        const auto second = rig.start(FixMode::Formal);
        QVERIFY2(*second, "a refused run returns at once");
        QCOMPARE(rig.changes.size(), changes);
        QCOMPARE(rig.keys.posted().size(), posted);
        QCOMPARE(rig.front.lookups(), lookups);

        rig.server.setReply(Reply::corrected(QStringLiteral("x")));
        rig.server.answerWaiting(Reply::corrected(QStringLiteral("x")));
        QVERIFY(rig.finish(first));
        QCOMPARE(rig.state(), TextProcessorState::idle());
        QCOMPARE(rig.server.requests().size(), 1);
        if (inTerminal)
            QCOMPARE(rig.primary.text(), std::optional<QString>(QStringLiteral("x")));
        else
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

    // A second error 1 s after the first: only its own timer ends it, unless it is the same error.
    void secondErrorKeepsItsOwnDisplayTime_data()
    {
        QTest::addColumn<bool>("firstUntrusted");
        QTest::addColumn<Changes>("expected");
        QTest::newRow("different error")
            << true
            << Changes {{QStringLiteral("error: ") + untrusted, 0}, {QStringLiteral("copying"), 1000},
                   {QStringLiteral("error: ") + noText, 1500}, {QStringLiteral("idle"), 4500}};
        QTest::newRow("same error: the first timer ends it")
            << false
            << Changes {{QStringLiteral("copying"), 0}, {QStringLiteral("error: ") + noText, 500},
                   {QStringLiteral("copying"), 1000}, {QStringLiteral("error: ") + noText, 1500},
                   {QStringLiteral("idle"), 3500}};
    }
    void secondErrorKeepsItsOwnDisplayTime()
    {
        QFETCH(bool, firstUntrusted);
        QFETCH(Changes, expected);
        Rig rig;
        rig.trust.setTrusted(!firstUntrusted);
        rig.app.setCopyBehaviour(Behaviour::Never);
        const auto first = rig.start();
        rig.advanceTo(1000);
        rig.trust.setTrusted(true);
        const auto second = rig.start();
        rig.advanceTo(10000);
        QVERIFY(*first && *second);
        QCOMPARE(rig.changes, expected);
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
        const auto shownWith = rig.pasteboardWhen(isError);

        const auto done = rig.start();
        if (failsAt > 0) {
            rig.advanceTo(failsAt - 1);
            QCOMPARE(rig.state(), TextProcessorState::copying());
        }
        rig.advanceTo(failsAt);
        QCOMPARE(rig.state(), TextProcessorState::error(noText));
        QCOMPARE(rig.processor->lastError(), TextProcessorError {noText});
        QCOMPARE(*shownWith, richContents());
        rig.advanceTo(failsAt + 3000);
        QVERIFY(*done);
        QCOMPARE(rig.state(), TextProcessorState::idle());
        QCOMPARE(rig.keys.posted(), QList<Keystroke> {copyKeystroke});
        QCOMPARE(rig.server.requests().size(), 0);
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

    // What the user had on the pasteboard is theirs again after every run: written back when the
    // run changed it, left with its owner (who keeps even what could not be read, also after we
    // quit) when nothing did.
    void pasteboardIsGivenBackByteForByte_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<bool>("empty");
        QTest::addColumn<bool>("republished");
        QTest::newRow("success") << QStringLiteral("success") << false << true;
        QTest::newRow("backend error") << QStringLiteral("backend error") << false << true;
        QTest::newRow("no text, the copy changed it") << QStringLiteral("no text") << false << true;
        QTest::newRow("no text, nothing changed it") << QStringLiteral("nothing copied") << false << false;
        QTest::newRow("empty, success") << QStringLiteral("success") << true << true;
        QTest::newRow("empty, backend error") << QStringLiteral("backend error") << true << true;
    }
    void pasteboardIsGivenBackByteForByte()
    {
        QFETCH(QString, outcome);
        QFETCH(bool, empty);
        QFETCH(bool, republished);
        Rig rig;
        QList<PasteboardItem> contents = richContents();
        // A type whose data its owner cannot give is left out; the rest comes back.
        contents[0].append({QStringLiteral("application/x-promised"), QByteArray("never delivered")});
        const QString user = QStringLiteral("the user's editor");
        if (!empty)
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
        QCOMPARE(rig.state(), TextProcessorState::idle());
        QCOMPARE(rig.processor->lastError().has_value(), outcome != QLatin1String("success"));
        if (empty) {
            QVERIFY(rig.pasteboard.items().isEmpty());
            return;
        }
        QCOMPARE(rig.pasteboard.items(), republished ? richContents() : contents);
        QCOMPARE(rig.pasteboard.owner(), republished ? Platform::FakePasteboard::ownOwner() : user);
        QCOMPARE(rig.pasteboard.changeCount() == countBefore, !republished);
        rig.processor.reset();
        rig.pasteboard.ownerQuits(Platform::FakePasteboard::ownOwner());
        QCOMPARE(rig.pasteboard.items().isEmpty(), republished);
    }

    // The dash setting is read when the result arrives and applies to whatever is pasted.
    void dashesReplacedOnlyWhenAsked_data()
    {
        QTest::addColumn<QVariant>("setting");
        QTest::addColumn<QString>("corrected");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<bool>("inTerminal");
        const QString dashes = QStringLiteral("well\u2014known \u2013 fact \u2014\u2013");
        QTest::newRow("on") << QVariant(true) << dashes << QStringLiteral("well-known - fact --") << false;
        QTest::newRow("off") << QVariant(false) << dashes << dashes << false;
        QTest::newRow("absent") << QVariant() << dashes << dashes << false;
        QTest::newRow("empty correction") << QVariant(true) << QString() << QString() << false;
        QTest::newRow("terminal, both selections")
            << QVariant(true) << QStringLiteral("a \u2014 b\u2013c") << QStringLiteral("a - b-c") << true;
    }
    void dashesReplacedOnlyWhenAsked()
    {
        QFETCH(QVariant, setting);
        QFETCH(QString, corrected);
        QFETCH(QString, pasted);
        QFETCH(bool, inTerminal);
        Rig rig;
        if (inTerminal)
            rig.useTerminal();
        rig.server.setReply(Reply::neverAnswer());
        const auto done = rig.start();
        rig.clock.advance(10ms);
        QTRY_COMPARE(rig.server.waitingCount(), 1);
        rig.defaults.setValue(QStringLiteral("replaceEmDash"), setting);
        rig.server.answerWaiting(Reply::corrected(corrected));
        QVERIFY(rig.finish(done));
        if (inTerminal) {
            QCOMPARE(rig.primary.text(), std::optional<QString>(pasted));
            QCOMPARE(rig.pasteboard.string(), std::optional<QString>(pasted));
        } else {
            QCOMPARE(rig.app.pastedTexts(), QList<QString> {pasted});
            QCOMPARE(rig.keys.posted(), (QList<Keystroke> {copyKeystroke, pasteKeystroke}));
        }
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
        rig.useTerminal();
        const qint64 changeCount = rig.pasteboard.changeCount();
        rig.trust.setTrusted(false);
        auto done = rig.start();
        QCOMPARE(rig.state(), TextProcessorState::error(untrusted));
        QCOMPARE(rig.processor->lastError(), TextProcessorError {untrusted});
        rig.advanceTo(2999);
        QCOMPARE(rig.state(), TextProcessorState::error(untrusted));
        rig.advanceTo(3000);
        QVERIFY(*done);
        QCOMPARE(rig.state(), TextProcessorState::idle());
        QVERIFY(rig.keys.posted().isEmpty());
        QCOMPARE(rig.pasteboard.changeCount(), changeCount);
        QCOMPARE(rig.server.requests().size(), 0);
        QCOMPARE(rig.front.lookups(), 0);
        QCOMPARE(rig.primary.reads(), 0);

        // Trust is asked again at every run.
        rig.trust.setTrusted(true);
        done = rig.start();
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.primary.text(), std::optional<QString>(QStringLiteral("This is a test")));
    }

    // Failures show their message after the user's pasteboard is back; a terminal's selections
    // are left as they were.
    void backendFailureRestoresBeforeShowingError_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("inTerminal");
        QTest::newRow("400 bad_request")
            << Reply::json(400, "{\"error\":\"bad_request\"}") << QStringLiteral("Bad request") << false;
        QTest::newRow("not JSON") << Reply::json(200, "<html>") << QStringLiteral("Invalid server response")
                                  << false;
        QTest::newRow("not ok") << Reply::json(
            200, "{\"ok\":false,\"error\":\"openai_failed\",\"detail\":\"quota\"}")
                                << QStringLiteral("openai_failed: quota") << false;
        QTest::newRow("closed mid-reply")
            << Reply::closeMidBody(200, QByteArray(2000, ' ')) << QString() << false;
        QTest::newRow("refused") << Reply() << QStringLiteral("Connection refused") << false;
        QTest::newRow("terminal, server error code") << Reply::json(500, "{\"error\":\"openai_failed\"}")
                                                     << QStringLiteral("OpenAI request failed") << true;
        QTest::newRow("terminal, not JSON")
            << Reply::json(200, "<html>") << QStringLiteral("Invalid server response") << true;
    }
    void backendFailureRestoresBeforeShowingError()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, message);
        QFETCH(bool, inTerminal);
        Rig rig;
        if (message == QLatin1String("Connection refused")) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            QUrl url = rig.server.url();
            url.setPort(probe.serverPort());
            probe.close();
            rig.createProcessor(url);
        }
        if (inTerminal) {
            rig.useTerminal();
            rig.defaults.setValue(TextProcessor::pasteInTerminalsKey(), true);
        } else {
            rig.pasteboard.writeItems(richContents());
        }
        rig.server.setReply(reply);
        const QList<PasteboardItem> before = rig.pasteboard.items();
        const qint64 changeCount = rig.pasteboard.changeCount();
        const auto shownWith = rig.pasteboardWhen(isError);
        const QString document = rig.app.document();

        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        // Shown as soon as the answer is there.
        QCOMPARE(rig.changes.size(), 4);
        QVERIFY(rig.changes.at(2).first.startsWith(QLatin1String("error: ")));
        if (!message.isEmpty())
            QCOMPARE(rig.changes.at(2), Change(QStringLiteral("error: ") + message, 0));
        QCOMPARE(rig.changes.at(3), Change(QStringLiteral("idle"), 3000));
        QCOMPARE(*shownWith, before);
        QCOMPARE(rig.app.document(), document);
        if (inTerminal) {
            QVERIFY(rig.keys.posted().isEmpty());
            QCOMPARE(rig.pasteboard.changeCount(), changeCount);
            QCOMPARE(rig.primary.owner(), terminalWindow);
            QCOMPARE(rig.notifier.shown().size(), 0);
        } else {
            QCOMPARE(rig.keys.posted(), QList<Keystroke> {copyKeystroke});
        }
    }

    // After the paste keystroke the user's pasteboard comes back at least 250 ms later and, where
    // the target fetches lazily, once it has fetched (plus a grace), at most 2 s later.
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
        const auto atIdle
            = rig.pasteboardWhen([](const TextProcessorState &s) { return s == TextProcessorState::idle(); });
        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        rig.advanceTo(rig.now() + 5000);

        QCOMPARE(rig.changes.size(), 4);
        QCOMPARE(rig.changes.at(3).second - rig.changes.at(2).second, restoredAfter);
        QCOMPARE(*atIdle, richContents());
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

    // In a terminal, by default nothing is typed: the result waits on both selections and a
    // notification says so. Any "pasteInTerminals" value but a true one keeps that default.
    void terminalRunPostsNoKeystroke_data()
    {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QStringList>("extraTerminals");
        QTest::addColumn<QString>("selection");
        QTest::addColumn<QVariant>("pasteSetting");
        const QString selection = QStringLiteral("Ths is a tset");
        QTest::newRow("xterm") << QStringLiteral("XTerm") << QStringList() << selection << QVariant();
        QTest::newRow("class in another case")
            << QStringLiteral("xfce4-TERMINAL") << QStringList() << selection << QVariant(false);
        QTest::newRow("class the user added")
            << QStringLiteral("Emacs") << QStringList {QStringLiteral("emacs")} << selection << QVariant(0);
        QTest::newRow("whitespace is sent as selected")
            << QStringLiteral("kitty") << QStringList() << QStringLiteral("  Ths is\n a tset \n")
            << QVariant(QVariantList {true});
        QTest::newRow("setting is other text")
            << QStringLiteral("XTerm") << QStringList() << selection << QVariant(QStringLiteral("please"));
        // No class: a window the desktop does not name, treated as a terminal by the user's choice.
        QTest::newRow("unrecognised window") << QString() << QStringList() << selection << QVariant();
    }
    void terminalRunPostsNoKeystroke()
    {
        QFETCH(QString, windowClass);
        QFETCH(QStringList, extraTerminals);
        QFETCH(QString, selection);
        QFETCH(QVariant, pasteSetting);
        Rig rig;
        rig.useTerminal(windowClass, selection);
        if (windowClass.isEmpty()) {
            rig.front.setCurrent(FrontWindowInfo {0, windowClass});
            rig.defaults.setValue(TextProcessor::unrecognisedWindowsAreTerminalsKey(), true);
        }
        rig.defaults.setValue(Platform::TerminalTable::terminalClassesKey(), extraTerminals);
        rig.defaults.setValue(TextProcessor::pasteInTerminalsKey(), pasteSetting);
        const qint64 clipboardBefore = rig.pasteboard.changeCount();

        const auto done = rig.start(FixMode::Formal);
        QCOMPARE(rig.state(), TextProcessorState::requesting());
        QVERIFY(rig.finish(done));

        QCOMPARE(rig.changes,
            (Changes {{QStringLiteral("copying"), 0}, {QStringLiteral("requesting"), 0},
                {QStringLiteral("idle"), 0}}));
        QVERIFY(rig.keys.posted().isEmpty());
        QVERIFY(!rig.terminal->interrupted);
        QVERIFY(rig.terminal->typed.isEmpty());
        QCOMPARE(rig.sentBody().value(QLatin1String("text")).toString(), selection);
        QCOMPARE(rig.sentBody().value(QLatin1String("mode")).toString(), QStringLiteral("formal"));
        // The result is on both selections, and the clipboard is not given back: it is the paste.
        QCOMPARE(rig.primary.owner(), Platform::FakePrimarySelection::ownId);
        QCOMPARE(rig.primary.text(), std::optional<QString>(QStringLiteral("This is a test")));
        QCOMPARE(rig.pasteboard.string(), std::optional<QString>(QStringLiteral("This is a test")));
        QCOMPARE(rig.pasteboard.items().size(), 1);
        QCOMPARE(rig.pasteboard.changeCount(), clipboardBefore + 2); // cleared, then written once
        QCOMPARE(rig.notifier.shown().size(), 1);
        QCOMPARE(rig.notifier.shown().first().summary, QStringLiteral("Corrected text ready"));
        QVERIFY(rig.notifier.shown().first().body.contains(QLatin1String("Shift+Insert")));
        QCOMPARE(rig.processor->lastError(), std::nullopt);
        QCOMPARE(rig.front.lookups(), 1);
        QCOMPARE(rig.clock.pendingTimers(), 0);
    }

    // Other windows get the ordinary copy keystroke.
    void otherWindowsAreCopiedAsUsual_data()
    {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QVariant>("nonTerminals");
        QTest::addColumn<bool>("services");
        QTest::newRow("editor") << QStringLiteral("Gedit") << QVariant() << true;
        QTest::newRow("unknown window") << QString() << QVariant() << true;
        QTest::newRow("terminal the user excluded")
            << QStringLiteral("XTerm") << QVariant(QStringList {QStringLiteral("xterm")}) << true;
        QTest::newRow("terminal mode not set up") << QStringLiteral("XTerm") << QVariant() << false;
    }
    void otherWindowsAreCopiedAsUsual()
    {
        QFETCH(QString, windowClass);
        QFETCH(QVariant, nonTerminals);
        QFETCH(bool, services);
        Rig rig;
        rig.useTerminal(windowClass);
        rig.defaults.setValue(Platform::TerminalTable::nonTerminalClassesKey(), nonTerminals);
        if (!services)
            rig.createProcessor(rig.server.url(), false);

        const auto done = rig.start();
        QCOMPARE(rig.keys.posted(), QList<Keystroke> {copyKeystroke});
        QCOMPARE(rig.primary.reads(), 0);
        // Nothing copies in this rig: the ordinary run gives up after its polls.
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.processor->lastError(), TextProcessorError {noText});
        QCOMPARE(rig.pasteboard.items(), Rig::userClipboard());
        QCOMPARE(rig.notifier.shown().size(), 0);
    }

    // Only the terminal's own selection is corrected.
    void selectionNotInTheTerminal_data()
    {
        QTest::addColumn<quint64>("owner");
        QTest::addColumn<QVariant>("text"); // invalid: the selection holds no text
        QTest::newRow("selected in another window") << otherWindow << QVariant(QStringLiteral("Other text"));
        QTest::newRow("nobody owns it") << quint64(0) << QVariant(QStringLiteral("stale"));
        QTest::newRow("no text") << terminalWindow << QVariant();
        QTest::newRow("empty") << terminalWindow << QVariant(QString());
        QTest::newRow("only whitespace") << terminalWindow << QVariant(QStringLiteral(" \n\t\u00a0\u2028"));
    }
    void selectionNotInTheTerminal()
    {
        QFETCH(quint64, owner);
        QFETCH(QVariant, text);
        Rig rig;
        rig.useTerminal();
        rig.defaults.setValue(TextProcessor::pasteInTerminalsKey(), true);
        rig.primary.select(owner, text.isValid() ? std::optional<QString>(text.toString()) : std::nullopt);
        const qint64 clipboardBefore = rig.pasteboard.changeCount();

        const auto done = rig.start();
        QCOMPARE(rig.state(), TextProcessorState::error(noText));
        QCOMPARE(rig.processor->lastError(), TextProcessorError {noText});
        rig.clock.advance(2999ms);
        QCOMPARE(rig.state(), TextProcessorState::error(noText));
        rig.clock.advance(1ms);
        QVERIFY(*done);
        QCOMPARE(rig.state(), TextProcessorState::idle());
        QVERIFY(rig.keys.posted().isEmpty());
        QCOMPARE(rig.server.requests().size(), 0);
        QCOMPARE(rig.pasteboard.changeCount(), clipboardBefore);
        QCOMPARE(rig.primary.owner(), owner);
        QCOMPARE(rig.primary.writes(), 0);
        QCOMPARE(rig.notifier.shown().size(), 0);
    }

    // "Paste in terminals": Shift+Insert, then the clipboard is given back once the terminal has
    // fetched the text from either selection.
    void pasteSetting_data()
    {
        QTest::addColumn<QVariant>("setting");
        QTest::addColumn<SimulatedTerminal::Source>("source");
        QTest::addColumn<int>("pasteDelay");
        QTest::addColumn<int>("restoredAt");
        using S = SimulatedTerminal::Source;
        QTest::newRow("pastes the primary selection") << QVariant(true) << S::Primary << 0 << 250;
        QTest::newRow("pastes the clipboard, late") << QVariant(true) << S::Clipboard << 400 << 450;
        QTest::newRow("primary, late") << QVariant(QStringLiteral("true")) << S::Primary << 1000 << 1050;
        QTest::newRow("never fetches: at most 2 s") << QVariant(1) << S::Nothing << 0 << 2000;
    }
    void pasteSetting()
    {
        QFETCH(QVariant, setting);
        QFETCH(SimulatedTerminal::Source, source);
        QFETCH(int, pasteDelay);
        QFETCH(int, restoredAt);
        Rig rig;
        rig.useTerminal();
        rig.defaults.setValue(TextProcessor::pasteInTerminalsKey(), setting);
        rig.terminal->pasteFrom = source;
        rig.terminal->pasteDelay = std::chrono::milliseconds(pasteDelay);
        const auto whilePasting = rig.pasteboardWhen(
            [](const TextProcessorState &s) { return s == TextProcessorState::pasting(); });

        const auto done = rig.start();
        QVERIFY(rig.finish(done));

        QCOMPARE(rig.keys.posted(), QList<Keystroke> {shiftInsert});
        QVERIFY(!rig.terminal->interrupted);
        if (source != SimulatedTerminal::Source::Nothing)
            QCOMPARE(rig.terminal->typed, QStringList {QStringLiteral("This is a test")});
        QCOMPARE(rig.changes,
            (Changes {{QStringLiteral("copying"), 0}, {QStringLiteral("requesting"), 0},
                {QStringLiteral("pasting"), 0}, {QStringLiteral("idle"), restoredAt}}));
        QCOMPARE(*whilePasting,
            (QList<PasteboardItem> {
                PasteboardItem {{Platform::plainTextType(), QByteArray("This is a test")}}}));
        QCOMPARE(rig.pasteboard.items(), Rig::userClipboard());
        QCOMPARE(rig.primary.text(), std::optional<QString>(QStringLiteral("This is a test")));
        QCOMPARE(rig.notifier.shown().size(), 0);
        QCOMPARE(rig.clock.pendingTimers(), 0);
    }

    // If the primary selection cannot be taken, Shift+Insert would paste the uncorrected text.
    void refusedPrimarySelection()
    {
        Rig rig;
        rig.useTerminal();
        rig.defaults.setValue(TextProcessor::pasteInTerminalsKey(), true);
        rig.primary.refuseNextWrite();
        const qint64 clipboardBefore = rig.pasteboard.changeCount();
        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        const QString message = QStringLiteral("Could not put the corrected text on the selection");
        QCOMPARE(rig.processor->lastError(), TextProcessorError {message});
        QCOMPARE(rig.changes.at(2), Change(QStringLiteral("error: ") + message, 0));
        QVERIFY(rig.keys.posted().isEmpty());
        QCOMPARE(rig.pasteboard.changeCount(), clipboardBefore);
        QCOMPARE(rig.notifier.shown().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTextProcessor)
#include "tst_textprocessor.moc"
