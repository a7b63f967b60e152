#pragma once

#include "platform/KeyboardLayout.h"

#include <QString>

#include <functional>
#include <optional>

struct wl_keyboard;
struct xkb_context;
struct xkb_keymap;

namespace Platform::Wayland {

class WaylandConnection;

// The keymap of the seat's keyboard, as the compositor sends it to every client and again when it
// changes; without a keyboard on the seat, the keymap of the environment (XKB_DEFAULT_*, else US).
// As the keyboard layout it tells what a physical key types, so that shortcuts read and register
// as the user's layout has them on a session without X11. Main thread only.
class SeatKeymap final : public KeyboardLayout {
public:
    // Follows the keyboard of `connection`'s seat; `connection` must outlive it.
    explicit SeatKeymap(WaylandConnection &connection);
    ~SeatKeymap() override;
    SeatKeymap(const SeatKeymap &) = delete;
    SeatKeymap &operator=(const SeatKeymap &) = delete;

    // The keymap now (owned here, valid until the next event dispatch); nullptr when none was read.
    xkb_keymap *keymap() const { return m_keymap; }

    // The evdev code of the first key that types `keysym` without modifiers, first layout first.
    std::optional<quint32> keyFor(quint32 keysym) const;
    // The symbol that the US layout types, without modifiers, at the key of macOS key code
    // `keyCode`: what applications match a shortcut's key by; 0 when there is no such key.
    quint32 usSymbol(quint16 keyCode) const;

    QString unshiftedCharacters(quint16 keyCode) const override;

private:
    std::function<void(const QByteArray &)> m_onKeymap;
    WaylandConnection &m_connection;
    wl_keyboard *m_keyboard = nullptr;
    xkb_context *m_context = nullptr;
    xkb_keymap *m_usKeymap = nullptr;
    xkb_keymap *m_keymap = nullptr;
};

} // namespace Platform::Wayland
