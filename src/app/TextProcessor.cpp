#include "app/TextProcessor.h"

#include "platform/DesktopNotifier.h"
#include "platform/KeyEncodings.h"
#include "platform/PrimarySelection.h"
#include "platform/Trace.h"
#include "platform/qt/TerminalTable.h"

#include <QPointer>

using namespace std::chrono_literals;

namespace {

constexpr quint16 copyKeyCode = Platform::MacKeyCode::c;
constexpr quint16 pasteKeyCode = Platform::MacKeyCode::v;
// The Help key of Apple keyboards is Insert on PC keyboards.
constexpr quint16 insertKeyCode = Platform::MacKeyCode::help;

constexpr Platform::Clock::Duration pollInterval = 10ms;
constexpr int maximumPolls = 50;
constexpr Platform::Clock::Duration pasteWait = 250ms;
// X11 applications fetch the clipboard only when they paste, possibly later than pasteWait; until
// then the corrected text must stay on it. Once fetched, a short grace lets the transfer finish.
constexpr Platform::Clock::Duration fetchGrace = 50ms;
constexpr Platform::Clock::Duration fetchCap = 2000ms; // counted from the paste keystroke
constexpr Platform::Clock::Duration errorDisplay = 3000ms;

const QLatin1String replaceEmDashKey("replaceEmDash");

// Suspends until the pasteboard tells of a change or `timeout` has passed, whichever is first.
class PasteboardChange {
public:
    PasteboardChange(
        Platform::Pasteboard &pasteboard, Platform::Clock &clock, Platform::Clock::Duration timeout)
        : m_pasteboard(pasteboard)
        , m_clock(clock)
        , m_timeout(timeout)
    {
    }
    ~PasteboardChange() { m_pasteboard.setChangeObserver({}); }
    // Moved only before it is awaited (the coroutine machinery takes it by value).
    PasteboardChange(PasteboardChange &&) = default;
    PasteboardChange &operator=(PasteboardChange &&) = delete;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        const auto wake = [this, handle] {
            // Both ways in are dropped before resuming; the closure may go with them.
            const std::coroutine_handle<> resumed = handle;
            PasteboardChange *self = this;
            self->m_pasteboard.setChangeObserver({});
            self->m_timer.reset();
            resumed.resume();
        };
        m_pasteboard.setChangeObserver(wake);
        m_timer = m_clock.singleShot(m_timeout, wake);
    }
    void await_resume() const noexcept { }

private:
    Platform::Pasteboard &m_pasteboard;
    Platform::Clock &m_clock;
    Platform::Clock::Duration m_timeout;
    Platform::TimerPtr m_timer;
};

} // namespace

TextProcessor::TextProcessor(APIClient api, Platform::Pasteboard &pasteboard, Platform::KeystrokePoster &keys,
    Platform::AccessibilityTrust &trust, Platform::UserDefaults &defaults, Platform::Clock &clock,
    QObject *parent)
    : QObject(parent)
    , m_api(std::move(api))
    , m_pasteboard(pasteboard)
    , m_keys(keys)
    , m_trust(trust)
    , m_defaults(defaults)
    , m_clock(clock)
{
}

TextProcessor::~TextProcessor()
{
    // A run waiting for the copy must not wake while we are half gone: it wakes on its timer.
    m_pasteboard.setChangeObserver({});
    if (m_pendingRestore)
        restorePasteboard(*m_pendingRestore);
}

void TextProcessor::setLastError(std::optional<TextProcessorError> error)
{
    m_lastError = std::move(error);
    Q_EMIT lastErrorChanged();
}

void TextProcessor::setState(const TextProcessorState &state)
{
    m_state = state;
    if (state == TextProcessorState::idle())
        Platform::Trace::phase("idle");
    Q_EMIT stateChanged(m_state);
}

QCoro::Task<> TextProcessor::run(FixMode mode)
{
    // From the busy check to `copying` nothing suspends, so no second run can slip in between.
    if (m_state.isBusy())
        co_return;
    QPointer<TextProcessor> self(this);

    if (!m_trust.isProcessTrusted()) {
        co_await flashError(QStringLiteral("Accessibility permission not granted"));
        co_return;
    }

    if (const std::optional<Platform::FrontWindowInfo> terminal = frontTerminal()) {
        co_await runInTerminal(mode, *terminal);
        co_return;
    }

    const SavedPasteboard saved = savePasteboard();
    const qint64 previousCount = m_pasteboard.changeCount();
    setState(TextProcessorState::copying());
    co_await m_keys.postKeystroke(copyKeyCode, Platform::AppKitModifier::command);
    if (!self)
        co_return;
    Platform::Trace::phase("copy posted");

    const std::optional<QString> text = co_await waitForPasteboardChange(previousCount);
    if (!self)
        co_return;
    const std::optional<QString> corrected = co_await requestCorrection(text, mode, saved);
    if (!self || !corrected)
        co_return;

    putOnPasteboard(*corrected);
    co_await pasteThenRestore(pasteKeyCode, Platform::AppKitModifier::command, saved,
        [this] { return m_pasteboard.contentsFetchedSinceLastWrite(); });
}

QCoro::Task<std::optional<QString>> TextProcessor::requestCorrection(
    std::optional<QString> text, FixMode mode, std::optional<SavedPasteboard> saved)
{
    QPointer<TextProcessor> self(this);
    // Trimming only decides whether there is any text; the text is sent as copied.
    if (!text || text->trimmed().isEmpty()) {
        co_await fail(QStringLiteral("No text selected"), saved);
        co_return std::nullopt;
    }

    setState(TextProcessorState::requesting());
    Platform::Trace::phase("request sent");
    const FixTextResult result = co_await m_api.fixText(*text, mode);
    if (!self)
        co_return std::nullopt;
    Platform::Trace::phase("reply");
    if (!result) {
        co_await fail(result.error().errorDescription(), saved);
        co_return std::nullopt;
    }
    co_return withDashSetting(result.value());
}

QCoro::Task<> TextProcessor::fail(QString message, std::optional<SavedPasteboard> saved)
{
    if (saved)
        restorePasteboard(*saved);
    co_await flashError(std::move(message));
}

QCoro::Task<> TextProcessor::pasteThenRestore(
    quint16 keyCode, quint64 flags, SavedPasteboard saved, std::function<bool()> fetched)
{
    QPointer<TextProcessor> self(this);
    setState(TextProcessorState::pasting());
    co_await m_keys.postKeystroke(keyCode, flags);
    if (!self)
        co_return;
    Platform::Trace::phase("paste posted");

    const Platform::Clock::Duration pastedAt = m_clock.now();
    co_await m_clock.sleep(pasteWait);
    if (!self)
        co_return;
    const Platform::Clock::Duration deadline = pastedAt + fetchCap;
    if (!fetched()) {
        while (m_clock.now() < deadline) {
            co_await m_clock.sleep(std::min(pollInterval, deadline - m_clock.now()));
            if (!self)
                co_return;
            if (fetched()) {
                const Platform::Clock::Duration grace = std::min(fetchGrace, deadline - m_clock.now());
                if (grace > Platform::Clock::Duration::zero())
                    co_await m_clock.sleep(grace);
                if (!self)
                    co_return;
                break;
            }
        }
    }
    restorePasteboard(saved);
    setState(TextProcessorState::idle());
}

QString TextProcessor::withDashSetting(QString corrected) const
{
    if (m_defaults.boolValue(replaceEmDashKey)) {
        corrected.replace(QChar(0x2014), QLatin1Char('-'));
        corrected.replace(QChar(0x2013), QLatin1Char('-'));
    }
    return corrected;
}

TextProcessor::SavedPasteboard TextProcessor::savePasteboard()
{
    SavedPasteboard saved;
    const QList<QStringList> items = m_pasteboard.itemTypes();
    for (int index = 0; index < items.size(); ++index) {
        Platform::PasteboardItem entry;
        for (const QString &type : items.at(index)) {
            const std::optional<QByteArray> bytes = m_pasteboard.data(index, type);
            if (!bytes)
                continue;
            auto existing
                = std::find_if(entry.begin(), entry.end(), [&](const auto &e) { return e.first == type; });
            if (existing != entry.end())
                existing->second = *bytes;
            else
                entry.append({type, *bytes});
        }
        saved.append(entry);
    }
    m_pendingRestore = saved;
    m_savedChangeCount = m_pasteboard.changeCount();
    m_wroteSinceSave = false;
    return saved;
}

void TextProcessor::restorePasteboard(const SavedPasteboard &saved)
{
    // Untouched since it was saved (the copy changed nothing, we never wrote): its owner still
    // holds all of it, possibly more than we could read. Writing it back would make us the owner
    // of a copy, and on X11 that copy goes when we quit.
    if (m_wroteSinceSave || m_pasteboard.changeCount() != m_savedChangeCount) {
        m_pasteboard.clearContents();
        // Written even when empty; a refused write leaves nothing better to do.
        m_pasteboard.writeItems(saved);
        Platform::Trace::phase("clipboard restored");
    } else {
        Platform::Trace::phase("clipboard left alone");
    }
    m_pendingRestore.reset(); // last: `saved` may be that very value
}

void TextProcessor::putOnPasteboard(const QString &text)
{
    m_wroteSinceSave = true;
    m_pasteboard.clearContents();
    m_pasteboard.setString(text);
}

QCoro::Task<std::optional<QString>> TextProcessor::waitForPasteboardChange(qint64 previousCount)
{
    QPointer<TextProcessor> self(this);
    // The owner's change ends the wait as soon as the pasteboard tells of it; a look every 10 ms
    // finds it where the pasteboard cannot tell. Either way the wait lasts at most 50 looks.
    const Platform::Clock::Duration deadline = m_clock.now() + pollInterval * maximumPolls;
    while (true) {
        // A change ends the wait even when the new contents hold no text.
        if (m_pasteboard.changeCount() != previousCount) {
            Platform::Trace::phase("copy seen");
            co_return m_pasteboard.string();
        }
        const Platform::Clock::Duration left = deadline - m_clock.now();
        if (left <= Platform::Clock::Duration::zero())
            co_return std::nullopt;
        co_await PasteboardChange(m_pasteboard, m_clock, std::min(pollInterval, left));
        if (!self)
            co_return std::nullopt;
    }
}

QCoro::Task<> TextProcessor::flashError(QString message)
{
    QPointer<TextProcessor> self(this);
    const TextProcessorState shown = TextProcessorState::error(message);
    setLastError(TextProcessorError {message});
    setState(shown);
    co_await m_clock.sleep(errorDisplay);
    if (!self)
        co_return;
    // A newer run (or a newer, different error) owns the state now.
    if (m_state == shown)
        setState(TextProcessorState::idle());
}

// The terminal mode. In a terminal emulator the copy keystroke is an interrupt: Ctrl+C stops the
// program in the foreground (xterm turns even Ctrl+Shift+C into one). Every terminal already puts
// a selection on the primary selection, so a run reads it from there and posts no copy keystroke.
// Pasting types at the shell's cursor rather than over the selection, so by default the corrected
// text is left on the clipboard and the primary selection for the user to paste;
// "pasteInTerminals" pastes it with Shift+Insert instead (which pastes the primary selection in
// most terminals, the clipboard in some: both hold it).

void TextProcessor::setTerminalServices(Platform::FrontWindow &frontWindow,
    Platform::PrimarySelection &primary, Platform::DesktopNotifier &notifier)
{
    m_frontWindow = &frontWindow;
    m_primary = &primary;
    m_notifier = &notifier;
}

std::optional<Platform::FrontWindowInfo> TextProcessor::frontTerminal() const
{
    if (!m_frontWindow)
        return std::nullopt;
    Platform::FrontWindowInfo front = m_frontWindow->current();
    // Where the desktop does not say which window is in front (GNOME's native windows), the user
    // may choose never to send Ctrl+C into the unknown: it could be a terminal.
    if (front.id == 0 && front.windowClass.isEmpty())
        return m_defaults.boolValue(unrecognisedWindowsAreTerminalsKey()) ? std::optional(front)
                                                                          : std::nullopt;
    if (!Platform::TerminalTable::builtIn().isTerminal(front.windowClass, m_defaults))
        return std::nullopt;
    return front;
}

QCoro::Task<> TextProcessor::runInTerminal(FixMode mode, Platform::FrontWindowInfo terminal)
{
    QPointer<TextProcessor> self(this);
    setState(TextProcessorState::copying());

    // Only the terminal's own selection: one left in another window is not what the user meant.
    // Nothing of the user's is saved yet, so a failure has nothing to give back.
    const std::optional<QString> corrected
        = co_await requestCorrection(m_primary->stringOwnedBy(terminal), mode, std::nullopt);
    if (!self || !corrected)
        co_return;
    const bool paste = m_defaults.boolValue(pasteInTerminalsKey());

    // Taking the primary selection first: if it is refused, the terminal's own selection would be
    // what Shift+Insert pastes, and the clipboard is still untouched.
    if (!m_primary->setString(*corrected)) {
        co_await flashError(QStringLiteral("Could not put the corrected text on the selection"));
        co_return;
    }
    // Saved only when it is given back: otherwise the corrected text is what the user will paste.
    const SavedPasteboard saved = paste ? savePasteboard() : SavedPasteboard();
    putOnPasteboard(*corrected);

    if (!paste) {
        m_notifier->notify(QStringLiteral("Corrected text ready"),
            QStringLiteral("Paste it in the terminal with Shift+Insert."));
        setState(TextProcessorState::idle());
        co_return;
    }

    // Shift+Insert fetches either selection, depending on the terminal.
    co_await pasteThenRestore(insertKeyCode, Platform::AppKitModifier::shift, saved, [this] {
        return m_pasteboard.contentsFetchedSinceLastWrite() || m_primary->contentsFetchedSinceLastWrite();
    });
}
