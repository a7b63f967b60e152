// The text processor's terminal mode. In a terminal emulator the copy keystroke is an interrupt:
// Ctrl+C stops the program in the foreground (xterm turns even Ctrl+Shift+C into one). Every
// terminal already puts a selection on the primary selection, so a run reads it from there and
// posts no copy keystroke. Pasting types at the shell's cursor rather than over the selection, so
// by default the corrected text is left on the clipboard and the primary selection for the user
// to paste; "pasteInTerminals" pastes it with Shift+Insert instead (which pastes the primary
// selection in most terminals, the clipboard in some: both hold it).

#include "app/TextProcessor.h"

#include "platform/DesktopNotifier.h"
#include "platform/PrimarySelection.h"
#include "platform/qt/TerminalTable.h"
#include "platform/Trace.h"

#include <QPointer>

namespace {

// The Help key of Apple keyboards is Insert on PC keyboards.
constexpr quint16 insertKeyCode = Platform::MacKeyCode::help;

} // namespace

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
    if (!Platform::TerminalTable::builtIn().isTerminal(front.windowClass, m_defaults))
        return std::nullopt;
    return front;
}

QCoro::Task<> TextProcessor::runInTerminal(FixMode mode, Platform::FrontWindowInfo terminal)
{
    QPointer<TextProcessor> self(this);
    setState(TextProcessorState::copying());

    // Only the terminal's own selection: one left in another window is not what the user meant.
    const std::optional<QString> text = m_primary->stringOwnedBy(terminal);
    if (!text || text->trimmed().isEmpty()) {
        co_await flashError(QStringLiteral("No text selected"));
        co_return;
    }

    setState(TextProcessorState::requesting());
    Platform::Trace::phase("request sent");
    const FixTextResult result = co_await m_api.fixText(*text, mode);
    if (!self)
        co_return;
    Platform::Trace::phase("reply");
    if (!result) {
        co_await flashError(result.error().errorDescription());
        co_return;
    }
    const QString corrected = withDashSetting(result.value());
    const bool paste = m_defaults.boolValue(pasteInTerminalsKey());

    // Taking the primary selection first: if it is refused, the terminal's own selection would be
    // what Shift+Insert pastes, and the clipboard is still untouched.
    if (!m_primary->setString(corrected)) {
        co_await flashError(QStringLiteral("Could not put the corrected text on the selection"));
        co_return;
    }
    // Saved only when it is given back: otherwise the corrected text is what the user will paste.
    const SavedPasteboard saved = paste ? savePasteboard() : SavedPasteboard();
    putOnPasteboard(corrected);

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
