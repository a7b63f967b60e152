#pragma once

#include <QtGlobal>

#include <functional>

namespace Platform {

// System-wide hot keys in the terms of the Carbon Event Manager: a key code (macOS virtual key
// code) with Carbon modifier bits, registered under a (signature, id) pair; presses and releases
// come back as events carrying that pair. Main thread only; events are delivered on it too.
class HotKeyService {
public:
    // Status values. 0 is success; every other value is a refusal, printed as a signed number.
    static constexpr int noErr = 0;
    static constexpr int eventNotHandledErr = -9874;
    // The arguments cannot name a hot key (an id already in use, a value out of range).
    static constexpr int paramErr = -50;
    // Another program already holds the combination.
    static constexpr int eventHotKeyExistsErr = -9878;
    // The key or a modifier has no counterpart on this system (the Function modifier on X11).
    static constexpr int eventHotKeyInvalidErr = -9879;
    // No hot-key service at all (no X server), or the system failed otherwise.
    static constexpr int eventInternalErr = -9868;

    // A registration's identity: the registrant's four-character signature and its number.
    struct HotKeyId {
        quint32 signature = 0;
        quint32 id = 0;
        friend bool operator==(const HotKeyId &, const HotKeyId &) = default;
    };

    // The event kinds of the keyboard class, as Carbon numbers them.
    enum class EventKind : quint32 {
        rawKeyDown = 1,
        rawKeyRepeat = 2,
        rawKeyUp = 3,
        hotKeyPressed = 5,
        hotKeyReleased = 6,
    };

    struct HotKeyEvent {
        EventKind kind = EventKind::hotKeyPressed;
        HotKeyId hotKeyId;
    };

    // Answers noErr when it handled the event, eventNotHandledErr (or another status) otherwise.
    using EventHandler = std::function<int(const HotKeyEvent &)>;

    // Hears of a registration whose fate changed after registerHotKey answered noErr: a nonzero
    // status when the system refuses it after all (a service that asks asynchronously) or
    // withdraws it (another program or the user took the key); noErr when it grants or gives back
    // a registration that it had refused that way.
    using StatusHandler = std::function<void(HotKeyId hotKeyId, int status)>;

    virtual ~HotKeyService() = default;

    // Makes `carbonKeyCode` with exactly `carbonModifiers` a system-wide hot key under `hotKeyId`.
    // Answers noErr when it is live or asked for and not refused yet, otherwise a nonzero status
    // and nothing is held. A later refusal goes to the status handler; the registration then stays
    // under its id, silent, until unregisterHotKey (to try again: unregister, then register anew).
    virtual int registerHotKey(quint32 carbonKeyCode, quint32 carbonModifiers, HotKeyId hotKeyId) = 0;

    // Releases the hot key registered under `id` (of any signature); an unknown id is ignored.
    virtual void unregisterHotKey(quint32 id) = 0;

    // Installs the one handler that receives hot-key events; answers noErr or a refusal, in which
    // case no handler is installed. It hears nothing until setHandlerListening(true).
    virtual int installEventHandler(EventHandler handler) = 0;

    // Adds (true) or removes (false) the hot-key pressed and released events to the installed
    // handler. Events arriving while it does not listen are dropped.
    virtual void setHandlerListening(bool listening) = 0;

    // Sets the one status handler, replacing the earlier one (an empty function removes it). It
    // is called on the main thread from the event loop, never from inside a call of this
    // interface, and only for ids registered and not unregistered since.
    void setStatusHandler(StatusHandler handler) { m_statusHandler = std::move(handler); }

protected:
    // For implementations: tells the status handler, when there is one.
    void reportStatus(HotKeyId hotKeyId, int status) const
    {
        if (const StatusHandler handler = m_statusHandler) // it may replace itself
            handler(hotKeyId, status);
    }

private:
    StatusHandler m_statusHandler;
};

} // namespace Platform
