#pragma once

#include "platform/Clock.h"
#include "platform/KeystrokePoster.h"

#include <QList>

#include <memory>

struct xcb_connection_t;

namespace Platform::X11 {

// Keystrokes through the XTEST extension, to whatever window has the keyboard focus.
//
// Keys go by physical position: the Command key becomes the Control key (so Command+C is
// Ctrl+C), Option is Alt, Control is Super. The user's fingers are usually still on the modifiers
// of the shortcut that started us, and a target that sees Ctrl+Shift+C ignores it: so before the
// keystroke we wait a little for them to come up and release whatever is still held (never the
// Caps Lock or Num Lock state). Every key we press is released before postKeystroke() returns.
class X11KeystrokePoster final : public KeystrokePoster {
public:
    // Uses Qt's X connection (main thread) and `clock` for the wait; `clock` must outlive us.
    explicit X11KeystrokePoster(Clock &clock);
    ~X11KeystrokePoster() override;

    QCoro::Task<> postKeystroke(quint16 keyCode, quint64 flags) override;

    // Whether keystrokes can be posted at all: an X connection whose server offers XTEST.
    bool isAvailable() const;

    // How long postKeystroke() waits for held modifiers to come up, and how often it looks.
    static constexpr Clock::Duration modifierWait {150};
    static constexpr Clock::Duration modifierPoll {10};

private:
    // Keycodes of the modifier keys that are down now (lock keys excluded).
    QList<quint8> heldModifierKeys() const;
    void fakeKey(bool press, quint8 keycode) const;

    Clock &m_clock;
    xcb_connection_t *m_connection = nullptr;
    // Cleared on destruction so that a keystroke waiting for the modifiers gives up.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace Platform::X11
