#pragma once

#include "app/APIClient.h"
#include "app/TextProcessorState.h"
#include "platform/AccessibilityTrust.h"
#include "platform/Clock.h"
#include "platform/FrontWindow.h"
#include "platform/KeystrokePoster.h"
#include "platform/Pasteboard.h"
#include "platform/UserDefaults.h"

#include <QList>
#include <QObject>

#include <QCoroTask>

#include <functional>
#include <optional>

namespace Platform {
class DesktopNotifier;
class PrimarySelection;
} // namespace Platform

// Corrects the selection of the application in front: copies it with Command+C, has the backend
// correct it, pastes the result with Command+V and gives the user's pasteboard back. One run at a
// time; progress is published as `state`, the last failure as `lastError`. Main thread only.
class TextProcessor : public QObject {
    Q_OBJECT
    Q_PROPERTY(TextProcessorState state READ state NOTIFY stateChanged)
    Q_PROPERTY(std::optional<TextProcessorError> lastError READ lastError NOTIFY lastErrorChanged)

public:
    TextProcessor(APIClient api, Platform::Pasteboard &pasteboard, Platform::KeystrokePoster &keys,
        Platform::AccessibilityTrust &trust, Platform::UserDefaults &defaults, Platform::Clock &clock,
        QObject *parent = nullptr);
    // Going away in the middle of a run (the program quits) still gives the user's pasteboard back.
    ~TextProcessor() override;

    TextProcessorState state() const { return m_state; }

    std::optional<TextProcessorError> lastError() const { return m_lastError; }
    // The settings window clears it by writing nothing.
    void setLastError(std::optional<TextProcessorError> error);

    // One correction. Returns when the run is over, which after a failure includes the error's
    // display time. Does nothing while another run is busy. Never throws; if the processor is
    // destroyed meanwhile, the run ends quietly at its next step.
    QCoro::Task<> run(FixMode mode);

    // Turns on the terminal mode. In a terminal emulator Ctrl+C
    // interrupts the running program, so a run started with a terminal in front posts no copy
    // keystroke: it reads the selection from `primary`, leaves the corrected text on the
    // clipboard and the primary selection, and tells the user through `notifier` to paste it, or
    // pastes it with Shift+Insert when "pasteInTerminals" is on. The services must outlive us.
    void setTerminalServices(Platform::FrontWindow &frontWindow, Platform::PrimarySelection &primary,
        Platform::DesktopNotifier &notifier);

    // Settings key of "Paste in terminals": a Boolean, off when absent.
    static QString pasteInTerminalsKey() { return QStringLiteral("pasteInTerminals"); }
    // The setting that treats a window in front that the desktop does not name as a terminal.
    static QString unrecognisedWindowsAreTerminalsKey()
    {
        return QStringLiteral("unrecognisedWindowsAreTerminals");
    }

Q_SIGNALS:
    // Emitted on every assignment of the state, synchronously, with the new value.
    void stateChanged(const TextProcessorState &state);
    void lastErrorChanged();

private:
    using SavedPasteboard = QList<Platform::PasteboardItem>;

    void setState(const TextProcessorState &state);
    // Saving also remembers what is owed to the user until restorePasteboard gives it back.
    SavedPasteboard savePasteboard();
    // Leaves the pasteboard alone when nobody has changed it since it was saved.
    void restorePasteboard(const SavedPasteboard &saved);
    // Replaces the contents with `text`: from here on restoring means putting the saved ones back.
    void putOnPasteboard(const QString &text);
    QCoro::Task<std::optional<QString>> waitForPasteboardChange(qint64 previousCount);
    // Sends the paste keystroke, waits at least the paste wait and then until `fetched` tells that
    // the target took our contents (bounded from the keystroke), and gives `saved` back.
    QCoro::Task<> pasteThenRestore(
        quint16 keyCode, quint64 flags, SavedPasteboard saved, std::function<bool()> fetched);
    // The step every run shares once it holds the selected text: nothing but white space (or no
    // text at all) is "No text selected"; otherwise the backend corrects it and the answer is the
    // corrected text with the dash setting applied. On failure the error is shown after `saved`
    // (when given) is given back, and the answer is nothing.
    QCoro::Task<std::optional<QString>> requestCorrection(
        std::optional<QString> text, FixMode mode, std::optional<SavedPasteboard> saved);
    // Gives `saved` back (when given), then shows `message` as the error.
    QCoro::Task<> fail(QString message, std::optional<SavedPasteboard> saved);
    QCoro::Task<> flashError(QString message);
    QString withDashSetting(QString corrected) const;

    // The terminal mode.
    std::optional<Platform::FrontWindowInfo> frontTerminal() const;
    QCoro::Task<> runInTerminal(FixMode mode, Platform::FrontWindowInfo terminal);

    APIClient m_api;
    Platform::Pasteboard &m_pasteboard;
    Platform::KeystrokePoster &m_keys;
    Platform::AccessibilityTrust &m_trust;
    Platform::UserDefaults &m_defaults;
    Platform::Clock &m_clock;
    TextProcessorState m_state;
    std::optional<TextProcessorError> m_lastError;
    std::optional<SavedPasteboard> m_pendingRestore;
    qint64 m_savedChangeCount = 0;
    bool m_wroteSinceSave = false;
    Platform::FrontWindow *m_frontWindow = nullptr;
    Platform::PrimarySelection *m_primary = nullptr;
    Platform::DesktopNotifier *m_notifier = nullptr;
};
