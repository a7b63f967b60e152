#pragma once

#include "hotkeys/Shortcut.h"
#include "hotkeys/Services.h"
#include "platform/HotKeyService.h"

#include <QList>

#include <functional>
#include <optional>

namespace Platform {
struct KeyEvent;
}

namespace Hotkeys {

// The system-wide hot keys of the process and the system's own reserved shortcuts.
//
// Every registration gets the next id (from 1, never reused) and goes to the hot-key service at
// once. While the namespace is disabled, or while a menu of the application is open, the hot keys
// are suspended (handed back to the system, table kept); with a menu open the key events inside
// the application are matched against the same table instead. A refusal, whether the service
// answers it at once or reports it later, writes one line to standard output: "Error registering
// hotkey " + description + ": " + status. The refused entry stays in the table, firing nothing,
// and is tried again whenever the hot keys come back (the menu closes, a recorder is done).
class SystemHotkeys {
public:
    SystemHotkeys() = delete;

    using Callback = std::function<void(const Shortcut &)>;

    // The four-character code "ZQHK" that every hot key of ours carries.
    static constexpr quint32 signature = 0x5A51484B;

    // Registers `shortcut` under a new id with the two callbacks (`register` is a keyword).
    static void register_(const Shortcut &shortcut, Callback onKeyDown, Callback onKeyUp);
    // Removes every registration of `shortcut` from the table and from the system.
    static void unregister(const Shortcut &shortcut);
    // Brings the hot keys, the event handler and the in-application key monitor in line with
    // Hotkeys::isEnabled() and Hotkeys::isMenuOpen(). Does nothing before the first successful
    // registration.
    static void updateEventHandler();

    // Posted on the default notification centre, without user info, when the system refuses,
    // takes away or grants one of the table's hot keys, and when a refused one leaves the table.
    static QString statusDidChange();
    // The system's last answer for `shortcut`: noErr when it accepted an entry of it (suspended
    // or not), otherwise the refusal; nothing when no entry holds it.
    static std::optional<int> status(const Shortcut &shortcut);

    // For tests and diagnostics: the ids in the table, ascending; the last id handed out; whether
    // the entry under `id` is live in the system (neither suspended nor refused).
    static QList<qint64> hotKeyIds();
    static qint64 lastHotKeyId();
    static std::optional<bool> isLive(qint64 id);
    static bool isEventHandlerInstalled();
    static bool isKeyEventMonitorRunning();

    // Forgets the table, the id counter, the handler and the monitor (not the installed
    // services). Called by Hotkeys::resetForTesting.
    static void resetForTesting();

    // Whether the system (on X11: another client holding the key grab) already uses `shortcut`,
    // asked anew on every call; false without the SystemShortcuts service. Stands for membership
    // in the system's list of enabled symbolic hot keys, which X11 cannot enumerate.
    static bool isSystemShortcut(const Shortcut &shortcut);

private:
    friend void useServices(const Services &services);
    // `service` replaced `old` (either may be nullptr; `old` may be gone and is not touched): the
    // new one has not heard of our event handler yet, and status reports now come from it.
    static void hotKeyServiceReplaced(Platform::HotKeyService *old, Platform::HotKeyService *service);
    static void startKeyEventMonitor();
    // Hands every suspended entry back to the system; refused ones too with `retryRefused`.
    static void softRegisterAll(bool retryRefused);
    static void softUnregisterAll();
    static void bringInLine(bool retryRefused);
    static void handleStatusReport(Platform::HotKeyService::HotKeyId hotKeyId, int status);
    static int systemHotkeysEventHandler(const Platform::HotKeyService::HotKeyEvent &event);
    static int handleHotKeyEvent(const Platform::HotKeyService::HotKeyEvent &event);
    static int handleRawKeyEvent(
        Platform::HotKeyService::EventKind kind, quint32 carbonKeyCode, quint32 carbonModifiers);
    static std::optional<Platform::KeyEvent> keyEventMonitorCallback(const Platform::KeyEvent &event);
    static void printRegistrationError(const Shortcut &shortcut, int status);
};

} // namespace Hotkeys
