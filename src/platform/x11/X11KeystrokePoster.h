#pragma once

#include "platform/Clock.h"
#include "platform/KeystrokePoster.h"

#include <QList>
#include <QMap>

#include <memory>
#include <optional>

struct xcb_connection_t;

namespace Platform::X11 {

class XkbKeymap;

// Keystrokes through the XTEST extension, to whatever window has the keyboard focus.
//
// Applications match shortcuts by key symbol, so every key goes by the symbol that the US layout
// has at the key code's position (Command is Control_L, Option Alt_L, Control Super_L) and is
// looked up in the current keymap: with Caps Lock as Control, or on Dvorak, the key that types
// "c" is not the one at the US "C" position. A symbol on no key's first level (a Latin letter on
// a Cyrillic-only keymap) is put on a spare key code for the keystroke and taken off again a
// little later, once the target has surely read it.
//
// The user's fingers are usually still on the modifiers of the shortcut that started us, and a
// target that sees Ctrl+Shift+C ignores it: so before the keystroke we wait a little for them to
// come up and release whatever is still held (never the Caps Lock or Num Lock state). Every key we
// press is released before postKeystroke() returns.
class X11KeystrokePoster final : public KeystrokePoster {
public:
    // Uses Qt's X connection (main thread) and `clock` for the waits; `clock` must outlive us.
    explicit X11KeystrokePoster(Clock &clock);
    ~X11KeystrokePoster() override;

    QCoro::Task<> postKeystroke(quint16 keyCode, quint64 flags) override;

    // Whether keystrokes can be posted at all: an X connection whose server offers XTEST.
    bool isAvailable() const;

    // How long postKeystroke() waits for held modifiers to come up, and how often it looks.
    static constexpr Clock::Duration modifierWait {150};
    static constexpr Clock::Duration modifierPoll {2};
    // How long a symbol stays on a spare key code after its last keystroke.
    static constexpr Clock::Duration spareKeyHold {1000};

    // The key codes that carry a symbol of ours now (for tests and diagnostics).
    QList<quint8> spareKeycodes() const { return m_spares.keys(); }

private:
    // Keycodes of the modifier keys that are down now (lock keys excluded).
    QList<quint8> heldModifierKeys() const;
    void fakeKey(bool press, quint8 keycode) const;
    // The key that types `keysym` on its first level, in `activeLayout` if one does there;
    // nothing when no key does.
    std::optional<quint8> keycodeForKeysym(quint32 keysym, quint32 activeLayout);
    // A key code with no symbols, given `keysym` on its first level; nothing when none is free.
    std::optional<quint8> putOnSpareKey(quint32 keysym);
    bool setKeysym(quint8 keycode, quint32 keysym);
    void takeOffSpareKeys();

    Clock &m_clock;
    xcb_connection_t *m_connection = nullptr;
    std::unique_ptr<XkbKeymap> m_keymap;
    QMap<quint8, quint32> m_spares; // spare key code -> the symbol we put there
    TimerPtr m_spareTimer;
    // Cleared on destruction so that a keystroke waiting for the modifiers gives up.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace Platform::X11
