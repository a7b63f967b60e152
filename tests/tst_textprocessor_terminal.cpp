#include "app/TextProcessor.h"
#include "platform/qt/TerminalTable.h"
#include "platform/fake/FakeAccessibilityTrust.h"
#include "platform/fake/FakeDesktopNotifier.h"
#include "platform/fake/FakeFrontWindow.h"
#include "platform/fake/FakeKeystrokePoster.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakePrimarySelection.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "testlib/StateNames.h"
#include "testlib/TaskResult.h"
#include "testlib/TestHttpServer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTest>

using namespace std::chrono_literals;
using Platform::FrontWindowInfo;
using Platform::PasteboardItem;
using Reply = TestHttpServer::Reply;
using Keystroke = Platform::FakeKeystrokePoster::Keystroke;

namespace {

const QString noText = QStringLiteral("No text selected");
const Keystroke copyKeystroke {8, Platform::AppKitModifier::command};
const Keystroke shiftInsert {0x72, Platform::AppKitModifier::shift};
constexpr quint64 terminalWindow = 0x1400007;
constexpr quint64 otherWindow = 0x2200003;

QList<PasteboardItem> userClipboard()
{
    return {PasteboardItem {{QStringLiteral("text/plain"), QByteArray("the user's own")},
        {QStringLiteral("text/html"), QByteArray("<i>the user's own</i>")}}};
}

using TestLib::describe;

using Changes = QList<QPair<QString, qint64>>;

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
            && (keystroke.flags & Platform::AppKitModifier::command)) {
            interrupted = true;
        } else if (keystroke == shiftInsert) {
            if (pasteDelay > 0ms)
                timers.push_back(clock.singleShot(pasteDelay, [this] { paste(); }));
            else
                paste();
        } else {
            typed.append(QStringLiteral("key %1").arg(keystroke.keyCode));
        }
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

// The processor with the terminal mode on fakes, in virtual time, against a real backend on
// 127.0.0.1; an xterm in front whose selection is on the primary selection.
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
    SimulatedTerminal terminal {keys, primary, pasteboard, clock};
    Changes changes;
    std::unique_ptr<TextProcessor> processor;

    Rig()
    {
        if (!server.listen())
            qFatal("cannot listen on 127.0.0.1");
        server.setReply(Reply::corrected(QStringLiteral("This is a test")));
        pasteboard.writeItems(userClipboard());
        pasteboard.setLazyFetch(true);
        front.setCurrent(FrontWindowInfo {terminalWindow, QStringLiteral("XTerm")});
        primary.select(terminalWindow, QStringLiteral("Ths is a tset"));
        processor = std::make_unique<TextProcessor>(
            APIClient(server.url(), &session), pasteboard, keys, trust, defaults, clock);
        processor->setTerminalServices(front, primary, notifier);
        QObject::connect(processor.get(), &TextProcessor::stateChanged, processor.get(),
            [this](const TextProcessorState &state) {
                changes.append({describe(state), now()});
            });
    }

    qint64 now() const { return clock.now().count(); }
    TextProcessorState state() const { return processor->state(); }
    std::shared_ptr<bool> start(FixMode mode = FixMode::Fix) { return TestLib::track(processor->run(mode)); }

    // Runs virtual time and the network until `done`, for at most 20 virtual seconds.
    bool finish(const std::shared_ptr<bool> &done)
    {
        const auto end = clock.now() + 20s;
        while (!*done) {
            if (state() == TextProcessorState::requesting() && server.waitingCount() == 0) {
                if (!QTest::qWaitFor([this] { return state() != TextProcessorState::requesting(); }, 10000))
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

    QString sentText() const
    {
        if (server.requests().isEmpty())
            return {};
        return QJsonDocument::fromJson(server.requests().first().body)
            .object()
            .value(QLatin1String("text"))
            .toString();
    }
};

} // namespace

Q_DECLARE_METATYPE(SimulatedTerminal::Source)
Q_DECLARE_METATYPE(TestHttpServer::Reply)

class TestTextProcessorTerminal : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The default: nothing is typed into the terminal; the result waits on both selections.
    void terminalRunPostsNoKeystroke_data()
    {
        QTest::addColumn<QString>("windowClass");
        QTest::addColumn<QStringList>("extraTerminals");
        QTest::addColumn<QString>("selection");
        QTest::newRow("xterm") << QStringLiteral("XTerm") << QStringList() << QStringLiteral("Ths is a tset");
        QTest::newRow("class in another case")
            << QStringLiteral("xfce4-TERMINAL") << QStringList() << QStringLiteral("Ths is a tset");
        QTest::newRow("class the user added")
            << QStringLiteral("Emacs") << QStringList {QStringLiteral("emacs")}
            << QStringLiteral("Ths is a tset");
        QTest::newRow("whitespace is sent as selected")
            << QStringLiteral("kitty") << QStringList() << QStringLiteral("  Ths is\n a tset \n");
    }
    void terminalRunPostsNoKeystroke()
    {
        QFETCH(QString, windowClass);
        QFETCH(QStringList, extraTerminals);
        QFETCH(QString, selection);
        Rig rig;
        rig.defaults.setValue(Platform::TerminalTable::terminalClassesKey(), extraTerminals);
        rig.front.setCurrent(FrontWindowInfo {terminalWindow, windowClass});
        rig.primary.select(terminalWindow, selection);
        const qint64 clipboardBefore = rig.pasteboard.changeCount();

        const auto done = rig.start(FixMode::Formal);
        QCOMPARE(rig.state(), TextProcessorState::requesting());
        QVERIFY(rig.finish(done));

        QCOMPARE(rig.changes,
            (Changes {{QStringLiteral("copying"), 0}, {QStringLiteral("requesting"), 0},
                {QStringLiteral("idle"), 0}}));
        QVERIFY(rig.keys.posted().isEmpty());
        QVERIFY(!rig.terminal.interrupted);
        QVERIFY(rig.terminal.typed.isEmpty());
        QCOMPARE(rig.sentText(), selection);
        QCOMPARE(
            QJsonDocument::fromJson(rig.server.requests().first().body).object().value(QLatin1String("mode")),
            QJsonValue(QStringLiteral("formal")));
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
        rig.defaults.setValue(Platform::TerminalTable::nonTerminalClassesKey(), nonTerminals);
        rig.front.setCurrent(FrontWindowInfo {terminalWindow, windowClass});
        if (!services)
            rig.processor = std::make_unique<TextProcessor>(APIClient(rig.server.url(), &rig.session),
                rig.pasteboard, rig.keys, rig.trust, rig.defaults, rig.clock);

        const auto done = rig.start();
        QCOMPARE(rig.keys.posted(), QList<Keystroke> {copyKeystroke});
        QCOMPARE(rig.primary.reads(), 0);
        // Nothing copies in this rig: the ordinary run gives up after its polls.
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.processor->lastError(), TextProcessorError {noText});
        QCOMPARE(rig.pasteboard.items(), userClipboard());
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
        QCOMPARE(rig.pasteboard.items(), userClipboard());
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
        rig.defaults.setValue(TextProcessor::pasteInTerminalsKey(), setting);
        rig.terminal.pasteFrom = source;
        rig.terminal.pasteDelay = std::chrono::milliseconds(pasteDelay);
        QList<PasteboardItem> clipboardWhilePasting;
        QObject::connect(rig.processor.get(), &TextProcessor::stateChanged, rig.processor.get(),
            [&](const TextProcessorState &state) {
                if (state == TextProcessorState::pasting())
                    clipboardWhilePasting = rig.pasteboard.items();
            });

        const auto done = rig.start();
        QVERIFY(rig.finish(done));

        QCOMPARE(rig.keys.posted(), QList<Keystroke> {shiftInsert});
        QVERIFY(!rig.terminal.interrupted);
        if (source != SimulatedTerminal::Source::Nothing)
            QCOMPARE(rig.terminal.typed, QStringList {QStringLiteral("This is a test")});
        QCOMPARE(rig.changes,
            (Changes {{QStringLiteral("copying"), 0}, {QStringLiteral("requesting"), 0},
                {QStringLiteral("pasting"), 0}, {QStringLiteral("idle"), restoredAt}}));
        const QList<PasteboardItem> result {
            PasteboardItem {{Platform::plainTextType(), QByteArray("This is a test")}}};
        QCOMPARE(clipboardWhilePasting, result);
        QCOMPARE(rig.pasteboard.items(), userClipboard());
        QCOMPARE(rig.primary.text(), std::optional<QString>(QStringLiteral("This is a test")));
        QCOMPARE(rig.notifier.shown().size(), 0);
        QCOMPARE(rig.clock.pendingTimers(), 0);
    }

    void pasteSettingOff_data()
    {
        QTest::addColumn<QVariant>("setting");
        QTest::newRow("absent") << QVariant();
        QTest::newRow("false") << QVariant(false);
        QTest::newRow("zero") << QVariant(0);
        QTest::newRow("a list") << QVariant(QVariantList {true});
        QTest::newRow("other text") << QVariant(QStringLiteral("please"));
    }
    void pasteSettingOff()
    {
        QFETCH(QVariant, setting);
        Rig rig;
        rig.defaults.setValue(TextProcessor::pasteInTerminalsKey(), setting);
        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        QVERIFY(rig.keys.posted().isEmpty());
        QCOMPARE(rig.pasteboard.string(), std::optional<QString>(QStringLiteral("This is a test")));
        QCOMPARE(rig.notifier.shown().size(), 1);
    }

    // Failures keep their messages and leave both selections as they were.
    void backendFailureInTerminal_data()
    {
        QTest::addColumn<Reply>("reply");
        QTest::addColumn<QString>("message");
        QTest::newRow("server error code")
            << Reply::json(500, "{\"error\":\"openai_failed\"}")
            << APIError::server(QStringLiteral("openai_failed")).errorDescription();
        QTest::newRow("not JSON") << Reply::json(200, "<html>") << APIError::badResponse().errorDescription();
    }
    void backendFailureInTerminal()
    {
        QFETCH(Reply, reply);
        QFETCH(QString, message);
        Rig rig;
        rig.defaults.setValue(TextProcessor::pasteInTerminalsKey(), true);
        rig.server.setReply(reply);
        const qint64 clipboardBefore = rig.pasteboard.changeCount();

        const auto done = rig.start();
        QVERIFY(QTest::qWaitFor([&] { return rig.state().isError(); }, 10000));
        QCOMPARE(rig.state(), TextProcessorState::error(message));
        QCOMPARE(rig.processor->lastError(), TextProcessorError {message});
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.state(), TextProcessorState::idle());
        QVERIFY(rig.keys.posted().isEmpty());
        QCOMPARE(rig.pasteboard.changeCount(), clipboardBefore);
        QCOMPARE(rig.primary.owner(), terminalWindow);
        QCOMPARE(rig.notifier.shown().size(), 0);
    }

    // If the primary selection cannot be taken, Shift+Insert would paste the uncorrected text.
    void refusedPrimarySelection()
    {
        Rig rig;
        rig.defaults.setValue(TextProcessor::pasteInTerminalsKey(), true);
        rig.primary.refuseNextWrite();
        const qint64 clipboardBefore = rig.pasteboard.changeCount();
        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        const QString message = QStringLiteral("Could not put the corrected text on the selection");
        QCOMPARE(rig.processor->lastError(), TextProcessorError {message});
        const QPair<QString, qint64> shown {QStringLiteral("error: ") + message, 0};
        QCOMPARE(rig.changes.at(2), shown);
        QVERIFY(rig.keys.posted().isEmpty());
        QCOMPARE(rig.pasteboard.changeCount(), clipboardBefore);
        QCOMPARE(rig.notifier.shown().size(), 0);
    }

    void dashSettingAppliesToBothSelections()
    {
        Rig rig;
        rig.defaults.setValue(QStringLiteral("replaceEmDash"), true);
        rig.server.setReply(Reply::corrected(QStringLiteral("a \u2014 b\u2013c")));
        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.primary.text(), std::optional<QString>(QStringLiteral("a - b-c")));
        QCOMPARE(rig.pasteboard.string(), std::optional<QString>(QStringLiteral("a - b-c")));
    }

    void busyTerminalRunRefusesAnother()
    {
        Rig rig;
        rig.server.setReply(Reply::neverAnswer());
        const auto first = rig.start();
        QTRY_COMPARE(rig.server.waitingCount(), 1);
        QCOMPARE(rig.state(), TextProcessorState::requesting());
        const auto second = rig.start();
        QVERIFY(*second);
        QCOMPARE(rig.front.lookups(), 1);
        QCOMPARE(rig.primary.reads(), 1);
        rig.server.answerWaiting(Reply::corrected(QStringLiteral("done")));
        QVERIFY(rig.finish(first));
        QCOMPARE(rig.server.requests().size(), 1);
        QCOMPARE(rig.primary.text(), std::optional<QString>(QStringLiteral("done")));
    }

    void untrustedRunDoesNotLookAtTheTerminal()
    {
        Rig rig;
        rig.trust.setTrusted(false);
        const auto done = rig.start();
        QVERIFY(rig.finish(done));
        QCOMPARE(rig.processor->lastError(),
            TextProcessorError {QStringLiteral("Accessibility permission not granted")});
        QCOMPARE(rig.primary.reads(), 0);
        QVERIFY(rig.keys.posted().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTextProcessorTerminal)
#include "tst_textprocessor_terminal.moc"
