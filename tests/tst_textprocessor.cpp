// The text processor on fakes in virtual time against a real backend on 127.0.0.1: ordinary runs
// with a simulated application in front, and terminal runs.
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
#include "testlib/TaskResult.h"
#include "testlib/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using Platform::PasteboardItem;
using Reply = TestHttpServer::Reply;
using Copy = SimulatedFrontApp::CopyBehaviour;
using Paste = SimulatedFrontApp::PasteBehaviour;
using Keystroke = Platform::FakeKeystrokePoster::Keystroke;
using Keystrokes = QList<Keystroke>;

namespace {

const QString noText = QStringLiteral("No text selected");
const QString fixedText = QStringLiteral("The corrected text.");
const Keystroke copyKeystroke {8, Platform::AppKitModifier::command};
const Keystroke pasteKeystroke {9, Platform::AppKitModifier::command};
const Keystroke shiftInsert {0x72, Platform::AppKitModifier::shift};
constexpr quint64 terminalWindow = 0x1400007;
constexpr quint64 otherWindow = 0x2200003;
// A type whose data its owner cannot give: left out when the pasteboard is written back.
const QString promisedType = QStringLiteral("application/x-promised");

// A published state as the traces spell it: "idle", "copying", ..., "error: <message>".
QString describe(const TextProcessorState &state)
{
    const char *const names[] = {"idle", "copying", "requesting", "pasting"};
    return state.isError() ? QStringLiteral("error: ") + state.message()
                           : QLatin1String(names[int(state.kind())]);
}

// A user's pasteboard with several items of several types, binary ones included.
QList<PasteboardItem> richContents()
{
    return {PasteboardItem {{QStringLiteral("text/plain"), QByteArray("original")},
                {QStringLiteral("text/html"), QByteArray("<b>original</b>")},
                {QStringLiteral("application/x-binary"), QByteArray("\x00\x01\xff\x00", 4)}},
        PasteboardItem {{QStringLiteral("image/png"), QByteArray::fromHex("89504e470d0a1a0a")}},
        PasteboardItem {{QStringLiteral("text/uri-list"), QByteArray("file:///tmp/a\r\n")},
            {QStringLiteral("text/plain"), QByteArray("/tmp/a")}}};
}

// A terminal emulator in front, as far as keystrokes reach it: Ctrl+C interrupts its program,
// Shift+Insert pastes the primary selection (or the clipboard, as konsole does), possibly late
// (the rig's terminalPaste()).
struct SimulatedTerminal {
    enum class Source { Primary, Clipboard, Nothing };
    Source pasteFrom = Source::Primary;
    Platform::Clock::Duration pasteDelay {0};
    QStringList typed;
    std::vector<Platform::TimerPtr> timers;
};

// The processor on fakes in virtual time and a real backend, with a simulated application in
// front holding the user's pasteboard, or, after useTerminal(), an xterm whose selection is on
// the primary selection. Every published state goes into `trace` with its virtual time.
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
    std::unique_ptr<TextProcessor> processor;
    FixMode mode = FixMode::Fix;
    QStringList trace;

    Rig()
    {
        if (!server.listen())
            qFatal("cannot listen on 127.0.0.1");
        server.setReply(Reply::corrected(fixedText));
        app.setDocument(QStringLiteral("Say:  teh txt \n and more"), 4, 11);
        front.setCurrent({otherWindow, QStringLiteral("Gedit")});
        createProcessor();
    }
    void createProcessor(bool terminalMode = true)
    {
        processor = std::make_unique<TextProcessor>(
            APIClient(server.url(), &session), pasteboard, keys, trust, defaults, clock);
        if (terminalMode)
            processor->setTerminalServices(front, primary, notifier);
        QObject::connect(processor.get(), &TextProcessor::stateChanged, processor.get(),
            [this](const TextProcessorState &s) {
                trace.append(describe(s) + QLatin1Char(' ') + QString::number(now()));
            });
    }
    void useTerminal(const QString &windowClass = QStringLiteral("XTerm"),
        const std::optional<QString> &selection = QStringLiteral("Ths is a tset"))
    {
        terminal.emplace();
        keys.setListener([this](const Keystroke &keystroke) {
            if (keystroke == shiftInsert)
                terminal->timers.push_back(
                    clock.singleShot(terminal->pasteDelay, [this] { terminalPaste(); }));
        });
        server.setReply(Reply::corrected(QStringLiteral("This is a test")));
        pasteboard.writeItemsAs(QStringLiteral("the user's editor"), richContents());
        pasteboard.setLazyFetch(true);
        front.setCurrent({terminalWindow, windowClass});
        primary.select(terminalWindow, selection);
    }

    void terminalPaste()
    {
        std::optional<QString> text
            = terminal->pasteFrom == SimulatedTerminal::Source::Primary ? primary.fetch() : std::nullopt;
        if (terminal->pasteFrom == SimulatedTerminal::Source::Clipboard) {
            text = pasteboard.string();
            pasteboard.markFetched();
        }
        if (text)
            terminal->typed.append(*text);
    }

    qint64 now() const { return clock.now().count(); }
    TextProcessorState state() const { return processor->state(); }
    std::shared_ptr<bool> start() { return TestLib::track(processor->run(mode)); }
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
    // Runs virtual time and the network until `done`, or until the next timer would pass `until`.
    bool runUntil(const std::function<bool()> &done, qint64 until)
    {
        while (!done()) {
            if (processor && state() == TextProcessorState::requesting() && server.waitingCount() == 0) {
                if (!waitForBackend())
                    return false;
                continue;
            }
            const std::optional<Platform::Clock::Duration> next = clock.nextDue();
            if (!next || next->count() > until)
                return done();
            clock.advance(*next - clock.now());
        }
        return true;
    }
    bool finish(const std::shared_ptr<bool> &done)
    {
        return runUntil([done] { return *done; }, now() + 20000);
    }
    QJsonObject sentBody() const
    {
        return server.requests().isEmpty() ? QJsonObject()
                                           : QJsonDocument::fromJson(server.requests().first().body).object();
    }
    // Every failure ends in lastError; a run that reached the backend sent what was selected.
    void checkErrorAndRequest(const QString &selection) const
    {
        const QString errorPrefix = QStringLiteral("error: ");
        const auto failure = std::find_if(
            trace.cbegin(), trace.cend(), [&](const QString &s) { return s.startsWith(errorPrefix); });
        QCOMPARE(processor->lastError(),
            failure == trace.cend()
                ? std::optional<TextProcessorError>()
                : TextProcessorError {failure->mid(errorPrefix.size()).section(u' ', 0, -2)});
        const bool requested = trace.filter(QStringLiteral("requesting ")).size() == 1;
        QCOMPARE(server.requests().size(), requested ? 1 : 0);
        if (requested) {
            QCOMPARE(sentBody().value(QLatin1String("text")).toString(), selection);
            QCOMPARE(sentBody().value(QLatin1String("mode")).toString(), wireString(mode));
        }
        QCOMPARE(clock.pendingTimers(), 0);
    }
};

struct NormalRun {
    const char *name;
    std::function<void(Rig &)> setup;
    QString trace;
    QStringList pasted;
    bool leftAlone = false; // the copy changed nothing: the owner keeps the pasteboard
};

struct TerminalRun {
    enum Clipboard { Corrected, Restored, Untouched };
    const char *name;
    std::function<void(Rig &)> setup;
    QString trace;
    Keystrokes keys;
    Clipboard clipboard = Untouched;
    QString corrected = QStringLiteral("This is a test"); // on the primary selection, if it was taken
};

} // namespace

Q_DECLARE_METATYPE(NormalRun)
Q_DECLARE_METATYPE(TerminalRun)

class TestTextProcessor : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Ordinary runs: each row starts from the user's pasteboard, rich and owned by their editor,
    // and a selection with white space around it, which goes to the backend as it is. Whatever
    // the outcome, the user's pasteboard is back (written back, or left with its owner when
    // nothing changed it) whenever the run shows its result, and stays so.
    void normalRuns_data()
    {
        QTest::addColumn<NormalRun>("run");
        const QString ok = QStringLiteral("copying 0, requesting 0, pasting 0, idle 250");
        const QString noTextAtOnce = QStringLiteral("copying 0, error: No text selected 0, idle 3000");
        const auto failed = [](const char *message) {
            return QStringLiteral("copying 0, requesting 0, error: %1 0, idle 3000")
                .arg(QLatin1String(message));
        };
        const auto lazyPaste = [](Paste paste, std::chrono::milliseconds delay) {
            return [paste, delay](Rig &r) {
                r.pasteboard.setLazyFetch(true);
                r.app.setPasteBehaviour(paste, delay);
            };
        };
        // The dash setting is read when the answer arrives.
        const auto dashes = [](QVariant setting, QString corrected) {
            return [setting, corrected](Rig &r) {
                r.server.setHandler([&r, setting, corrected](const TestHttpServer::Request &) {
                    r.defaults.setValue(QStringLiteral("replaceEmDash"), setting);
                    return Reply::corrected(corrected);
                });
            };
        };
        const QString dashed = QStringLiteral("well\u2014known \u2013 fact \u2014\u2013");
        const QList<NormalRun> runs {
            {"fix", {}, ok, {fixedText}},
            {"only white space", [](Rig &r) { r.app.setSelectedText(QStringLiteral(" \n\t \r\n")); },
                noTextAtOnce, {}},
            {"only Unicode spaces",
                [](Rig &r) { r.app.setSelectedText(QStringLiteral("\u00a0\u2003\u2028\u3000\u0085")); },
                noTextAtOnce, {}},
            {"empty selection", [](Rig &r) { r.app.setSelectedText(QString()); }, noTextAtOnce, {}},
            {"image only: seen at once", [](Rig &r) { r.app.setCopyBehaviour(Copy::ImageOnly); },
                noTextAtOnce, {}},
            {"never copies: given up after 50 looks", [](Rig &r) { r.app.setCopyBehaviour(Copy::Never); },
                QStringLiteral("copying 0, error: No text selected 500, idle 3500"), {}, true},
            {"copy 5 ms late: seen as it happens", [](Rig &r) { r.app.setCopyBehaviour(Copy::Late, 5ms); },
                QStringLiteral("copying 0, requesting 5, pasting 5, idle 255"), {fixedText}},
            {"copy 5 ms late, not told: the next look",
                [](Rig &r) {
                    r.pasteboard.setTellsChanges(false);
                    r.app.setCopyBehaviour(Copy::Late, 5ms);
                },
                QStringLiteral("copying 0, requesting 10, pasting 10, idle 260"), {fixedText}},
            {"copy at 500 ms, not told: the last look",
                [](Rig &r) {
                    r.pasteboard.setTellsChanges(false);
                    r.app.setCopyBehaviour(Copy::Late, 500ms);
                },
                QStringLiteral("copying 0, requesting 500, pasting 500, idle 750"), {fixedText}},
            {"not JSON", [](Rig &r) { r.server.setReply(Reply::json(200, "<html>")); },
                failed("Invalid server response"), {}},
            {"empty pasteboard, backend error",
                [](Rig &r) {
                    r.pasteboard.clearContents();
                    r.server.setReply(Reply::json(500, R"({"error":"openai_failed"})"));
                },
                failed("OpenAI request failed"), {}},
            {"dashes replaced when asked", dashes(true, dashed), ok,
                {QStringLiteral("well-known - fact --")}},
            {"dashes kept when not asked", dashes(QVariant(), dashed), ok, {dashed}},
            {"empty correction pasted", dashes(true, QString()), ok, {QString()}},
            // After the paste keystroke the pasteboard comes back at least 250 ms later and, where
            // the target fetches lazily, once it has fetched (plus a grace), at most 2 s later.
            {"fetched before 250 ms", lazyPaste(Paste::Late, 120ms), ok, {fixedText}},
            {"fetched at 400 ms, then a grace", lazyPaste(Paste::Late, 400ms),
                QStringLiteral("copying 0, requesting 0, pasting 0, idle 450"), {fixedText}},
            {"fetched near the cap", lazyPaste(Paste::Late, 1980ms),
                QStringLiteral("copying 0, requesting 0, pasting 0, idle 2000"), {fixedText}},
            {"never fetched: the cap", lazyPaste(Paste::Never, 0ms),
                QStringLiteral("copying 0, requesting 0, pasting 0, idle 2000"), {}},
            // What the fetch check avoids: a reader after the fixed wait gets the old contents.
            {"eager pasteboard, late reader", [](Rig &r) { r.app.setPasteBehaviour(Paste::Late, 400ms); }, ok,
                {QStringLiteral("original")}},
        };
        for (const NormalRun &run : runs)
            QTest::newRow(run.name) << run;
    }
    void normalRuns()
    {
        QFETCH(NormalRun, run);
        Rig rig;
        QList<PasteboardItem> contents = richContents();
        contents[0].append({promisedType, QByteArray("never delivered")});
        const QString user = QStringLiteral("the user's editor");
        rig.pasteboard.writeItemsAs(user, contents);
        rig.pasteboard.setUnreadableTypes({promisedType});
        if (run.setup)
            run.setup(rig);
        const QList<PasteboardItem> before = rig.pasteboard.items();
        const qint64 countBefore = rig.pasteboard.changeCount();
        QList<PasteboardItem> expected = before;
        if (!run.leftAlone && !expected.isEmpty())
            expected = richContents();
        QList<QList<PasteboardItem>> atRest;
        connect(rig.processor.get(), &TextProcessor::stateChanged, this, [&](const TextProcessorState &s) {
            if (!s.isBusy())
                atRest.append(rig.pasteboard.items());
        });
        const QString selection = rig.app.selectedText();

        QVERIFY(rig.finish(rig.start()));
        rig.advanceTo(rig.now() + 5000);

        QCOMPARE(rig.trace.join(QStringLiteral(", ")), run.trace);
        QCOMPARE(rig.app.pastedTexts(), run.pasted);
        const bool pasted = run.trace.contains(QLatin1String("pasting"));
        QCOMPARE(rig.keys.posted(),
            (pasted ? Keystrokes {copyKeystroke, pasteKeystroke} : Keystrokes {copyKeystroke}));
        QCOMPARE(rig.pasteboard.setStringCount(), pasted ? 1 : 0);
        for (const QList<PasteboardItem> &items : std::as_const(atRest))
            QCOMPARE(items, expected);
        QCOMPARE(rig.pasteboard.items(), expected);
        if (!before.isEmpty())
            QCOMPARE(rig.pasteboard.owner(), run.leftAlone ? user : Platform::FakePasteboard::ownOwner());
        QCOMPARE(rig.pasteboard.changeCount() == countBefore, run.leftAlone);
        rig.checkErrorAndRequest(selection);
    }

    // Terminal runs post no copy keystroke: the terminal's own selection comes from the primary
    // selection. By default the result is left on both selections with a notification; with
    // "pasteInTerminals" on, Shift+Insert pastes it and the clipboard is given back once the
    // terminal fetched either selection. Other windows are copied as usual.
    void terminalRuns_data()
    {
        QTest::addColumn<TerminalRun>("run");
        const QString left = QStringLiteral("copying 0, requesting 0, idle 0");
        const QString noTextAtOnce = QStringLiteral("copying 0, error: No text selected 0, idle 3000");
        const QString copiedInVain = QStringLiteral("copying 0, error: No text selected 500, idle 3500");
        const auto failed = [](const char *message) {
            return QStringLiteral("copying 0, requesting 0, error: %1 0, idle 3000")
                .arg(QLatin1String(message));
        };
        const QString pastedAt = QStringLiteral("copying 0, requesting 0, pasting 0, idle %1");
        const auto pasting
            = [](QVariant setting, SimulatedTerminal::Source source, std::chrono::milliseconds delay) {
                  return [=](Rig &r) {
                      r.defaults.setValue(TextProcessor::pasteInTerminalsKey(), setting);
                      r.terminal->pasteFrom = source;
                      r.terminal->pasteDelay = delay;
                  };
              };
        const auto window = [](quint64 id, const char *windowClass) {
            return [=](Rig &r) { r.front.setCurrent({id, QString::fromLatin1(windowClass)}); };
        };
        using S = SimulatedTerminal::Source;
        const QList<TerminalRun> runs {
            {"xterm", {}, left, {}, TerminalRun::Corrected},
            {"white space sent as selected, formal",
                [](Rig &r) {
                    r.mode = FixMode::Formal;
                    r.primary.select(terminalWindow, QStringLiteral("  Ths is\n a tset \n"));
                    r.defaults.setValue(TextProcessor::pasteInTerminalsKey(), QVariantList {true});
                },
                left, {}, TerminalRun::Corrected},
            {"an editor", window(otherWindow, "Gedit"), copiedInVain, {copyKeystroke}},
            // No class: a window the desktop does not name, a terminal only by the user's choice.
            {"an unrecognised window", window(0, ""), copiedInVain, {copyKeystroke}},
            {"an unrecognised window, by choice",
                [](Rig &r) {
                    r.front.setCurrent({0, QString()});
                    r.defaults.setValue(TextProcessor::unrecognisedWindowsAreTerminalsKey(), true);
                },
                left, {}, TerminalRun::Corrected},
            {"a terminal the user excluded",
                [](Rig &r) {
                    r.defaults.setValue(Platform::TerminalTable::nonTerminalClassesKey(),
                        QStringList {QStringLiteral("xterm")});
                },
                copiedInVain, {copyKeystroke}},
            {"terminal mode not set up", [](Rig &r) { r.createProcessor(false); }, copiedInVain,
                {copyKeystroke}},
            {"a selection without text", [](Rig &r) { r.primary.select(terminalWindow, std::nullopt); },
                noTextAtOnce, {}},
            {"pastes the clipboard, late", pasting(true, S::Clipboard, 400ms), pastedAt.arg(450),
                {shiftInsert}, TerminalRun::Restored},
            {"pastes the primary selection, late", pasting(QStringLiteral("true"), S::Primary, 1000ms),
                pastedAt.arg(1050), {shiftInsert}, TerminalRun::Restored},
            {"never fetches: at most 2 s", pasting(1, S::Nothing, 0ms), pastedAt.arg(2000), {shiftInsert},
                TerminalRun::Restored},
            // Shift+Insert would paste the uncorrected text.
            {"the primary selection refused",
                [](Rig &r) {
                    r.defaults.setValue(TextProcessor::pasteInTerminalsKey(), true);
                    r.primary.refuseNextWrite();
                },
                failed("Could not put the corrected text on the selection"), {}},
            {"backend error",
                [](Rig &r) {
                    r.defaults.setValue(TextProcessor::pasteInTerminalsKey(), true);
                    r.server.setReply(Reply::json(500, R"({"error":"openai_failed"})"));
                },
                failed("OpenAI request failed"), {}},
            {"not trusted", [](Rig &r) { r.trust.setTrusted(false); },
                QStringLiteral("error: Accessibility permission not granted 0, idle 3000"), {}},
        };
        for (const TerminalRun &run : runs)
            QTest::newRow(run.name) << run;
    }
    void terminalRuns()
    {
        QFETCH(TerminalRun, run);
        Rig rig;
        rig.useTerminal();
        if (run.setup)
            run.setup(rig);
        const qint64 clipboardBefore = rig.pasteboard.changeCount();
        const quint64 primaryOwner = rig.primary.owner();
        const QString selection = rig.primary.text().value_or(QString());
        QList<PasteboardItem> whilePasting;
        connect(rig.processor.get(), &TextProcessor::stateChanged, this, [&](const TextProcessorState &s) {
            if (s == TextProcessorState::pasting())
                whilePasting = rig.pasteboard.items();
        });

        QVERIFY(rig.finish(rig.start()));

        QCOMPARE(rig.trace.join(QStringLiteral(", ")), run.trace);
        QCOMPARE(rig.keys.posted(), run.keys);
        const bool terminalRun
            = run.trace.startsWith(QLatin1String("copying")) && !run.keys.contains(copyKeystroke);
        QCOMPARE(rig.primary.reads() > 0, terminalRun);
        const bool taken = run.clipboard != TerminalRun::Untouched;
        QCOMPARE(rig.primary.owner(), taken ? Platform::FakePrimarySelection::ownId : primaryOwner);
        if (taken)
            QCOMPARE(rig.primary.text(), std::optional<QString>(run.corrected));
        const QList<PasteboardItem> corrected {{{Platform::plainTextType(), run.corrected.toUtf8()}}};
        switch (run.clipboard) {
        case TerminalRun::Corrected: // cleared, then written once: the clipboard is the paste
            QCOMPARE(rig.pasteboard.items(), corrected);
            QCOMPARE(rig.pasteboard.changeCount(), clipboardBefore + 2);
            break;
        case TerminalRun::Restored:
            QCOMPARE(whilePasting, corrected);
            QCOMPARE(rig.pasteboard.items(), richContents());
            QCOMPARE(rig.terminal->typed,
                rig.terminal->pasteFrom == SimulatedTerminal::Source::Nothing ? QStringList()
                                                                              : QStringList {run.corrected});
            break;
        case TerminalRun::Untouched:
            QCOMPARE(rig.pasteboard.items(), richContents());
            QCOMPARE(rig.pasteboard.changeCount(), clipboardBefore);
        }
        const QList<Platform::FakeDesktopNotifier::Notification> notified {
            {QStringLiteral("Corrected text ready"),
                QStringLiteral("Paste it in the terminal with Shift+Insert.")}};
        QCOMPARE(
            rig.notifier.shown(), run.clipboard == TerminalRun::Corrected ? notified : decltype(notified)());
        rig.checkErrorAndRequest(selection);
    }

    void busyRunIsRefused_data()
    {
        QTest::addColumn<QString>("phase");
        for (const char *phase : {"copying", "requesting", "pasting"})
            QTest::newRow(phase) << QString::fromLatin1(phase);
    }
    void busyRunIsRefused()
    {
        QFETCH(QString, phase);
        Rig rig;
        rig.server.setReply(Reply::neverAnswer());
        if (phase == QLatin1String("copying"))
            rig.app.setCopyBehaviour(Copy::Late, 5ms);
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

        const QStringList trace = rig.trace;
        const qsizetype posted = rig.keys.posted().size();
        const int lookups = rig.front.lookups();
        rig.mode = FixMode::Formal;
        QVERIFY2(*rig.start(), "a refused run returns at once");
        QCOMPARE(rig.trace, trace);
        QCOMPARE(rig.keys.posted().size(), posted);
        QCOMPARE(rig.front.lookups(), lookups);

        rig.server.setReply(Reply::corrected(QStringLiteral("x")));
        rig.server.answerWaiting(Reply::corrected(QStringLiteral("x")));
        QVERIFY(rig.finish(first));
        QCOMPARE(rig.server.requests().size(), 1);
        QCOMPARE(rig.app.pastedTexts(), QStringList {QStringLiteral("x")});
    }

    // A run 1 s after a failure: a new run goes ahead at once and the old error's timer leaves it
    // alone; a second error keeps its own display time, unless it is the same error. The last
    // failure stays in lastError after a later success.
    void overlappingRuns_data()
    {
        QTest::addColumn<bool>("firstTrusted");
        QTest::addColumn<bool>("secondCopies");
        QTest::addColumn<QString>("trace");
        QTest::newRow("a new run overtakes the error")
            << true << true
            << QStringLiteral("copying 0, error: No text selected 500, copying 1000, requesting 1000, "
                              "pasting 3600, idle 3850");
        QTest::newRow("a different error keeps its own time")
            << false << false
            << QStringLiteral("error: Accessibility permission not granted 0, copying 1000, "
                              "error: No text selected 1500, idle 4500");
        QTest::newRow("the same error: the first timer ends it")
            << true << false
            << QStringLiteral("copying 0, error: No text selected 500, copying 1000, "
                              "error: No text selected 1500, idle 3500");
    }
    void overlappingRuns()
    {
        QFETCH(bool, firstTrusted);
        QFETCH(bool, secondCopies);
        Rig rig;
        const QSignalSpy errors(rig.processor.get(), &TextProcessor::lastErrorChanged);
        rig.trust.setTrusted(firstTrusted);
        rig.app.setCopyBehaviour(Copy::Never);
        const auto first = rig.start();
        rig.advanceTo(1000);
        rig.trust.setTrusted(true); // asked again at every run
        if (secondCopies) {
            rig.app.setCopyBehaviour(Copy::Immediate);
            rig.server.setReply(Reply::neverAnswer());
        }
        const auto second = rig.start();
        if (secondCopies) {
            QTRY_COMPARE(rig.server.waitingCount(), 1);
            rig.advanceTo(3600);
            QCOMPARE(rig.state(), TextProcessorState::requesting());
            rig.server.answerWaiting(Reply::corrected(QStringLiteral("ok")));
            QVERIFY(rig.waitForBackend());
        }
        rig.advanceTo(10000);
        QVERIFY(*first && *second);
        QTEST(rig.trace.join(QStringLiteral(", ")), "trace");
        QCOMPARE(errors.size(), secondCopies ? 1 : 2);
        QCOMPARE(rig.processor->property("lastError").value<std::optional<TextProcessorError>>(),
            TextProcessorError {noText});
    }

    void processorDestroyedMidRunEndsQuietly_data()
    {
        QTest::addColumn<QString>("phase");
        for (const char *phase : {"polling", "requesting", "pasting", "fetch", "error"})
            QTest::newRow(phase) << QString::fromLatin1(phase);
    }
    // The program quitting mid-run: nothing more is sent, and the user's pasteboard is theirs again.
    void processorDestroyedMidRunEndsQuietly()
    {
        QFETCH(QString, phase);
        Rig rig;
        rig.pasteboard.writeItems(richContents());
        rig.pasteboard.setLazyFetch(true);
        rig.app.setPasteBehaviour(Paste::Never);
        if (phase == QLatin1String("error") || phase == QLatin1String("polling"))
            rig.app.setCopyBehaviour(Copy::Never);
        rig.server.setReply(Reply::neverAnswer());
        const auto done = rig.start();
        if (phase == QLatin1String("polling")) {
            rig.clock.advance(5ms);
        } else if (phase == QLatin1String("error")) {
            rig.advanceTo(600);
            QVERIFY(rig.state().isError());
        } else {
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
        const QStringList trace = rig.trace;

        rig.processor.reset();
        QCOMPARE(rig.pasteboard.items(), richContents());
        const qint64 restoredAt = rig.pasteboard.changeCount();
        rig.server.answerWaiting(Reply::corrected(QStringLiteral("late")));
        rig.advanceTo(rig.now() + 10000);
        // The run ends at its next step: a timer above, or the backend's late answer.
        QTRY_VERIFY(*done);
        QCOMPARE(rig.keys.posted().size(), posted);
        QCOMPARE(rig.trace, trace);
        QCOMPARE(rig.clock.pendingTimers(), 0);
        QCOMPARE(rig.pasteboard.changeCount(), restoredAt);
    }
};

QTEST_MAIN(TestTextProcessor)
#include "tst_textprocessor.moc"
