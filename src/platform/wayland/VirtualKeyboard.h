#pragma once

#include "platform/AccessibilityTrust.h"
#include "platform/KeystrokePoster.h"

#include <QString>

#include <functional>
#include <memory>

struct wl_keyboard;
struct xkb_context;
struct xkb_keymap;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace Platform::Wayland {

class WaylandConnection;

// Keystrokes through zwp_virtual_keyboard_v1: one virtual keyboard on the seat for the whole run
// (a keyboard added and removed per keystroke makes the compositor lose the next one).
//
// It types with the user's own keymap, read from the seat's keyboard and followed when it changes,
// so that applications read our keys as the user's layout has them; without a keyboard on the seat
// it uses the keymap of the environment (XKB_DEFAULT_*). Keys are chosen by the symbol they type
// (Control_L, c, v, Shift_L, Insert), never by position, in the first layout that has the symbol.
// Modifiers are set explicitly on our keyboard, so keys the user still holds on theirs do not mix
// into ours; every key pressed is released before postKeystroke() returns.
//
// It is also the trust seam: keystrokes are permitted while the keyboard exists on a live
// connection (a compositor that refuses it ends the connection).
class VirtualKeyboard final : public KeystrokePoster, public AccessibilityTrust {
public:
    // `connection` must outlive us; `helpPage` is opened by openSystemSettings().
    VirtualKeyboard(WaylandConnection &connection, QString helpPage);
    ~VirtualKeyboard() override;
    VirtualKeyboard(const VirtualKeyboard &) = delete;
    VirtualKeyboard &operator=(const VirtualKeyboard &) = delete;

    QCoro::Task<> postKeystroke(quint16 keyCode, quint64 flags) override;
    // Posts one key typing `keysym` with the AppKit modifier `flags`; false when the keymap has no
    // key for it (nothing is posted then).
    bool postKeysym(quint32 keysym, quint64 flags);

    bool isProcessTrusted() const override;
    bool requestTrust() override { return isProcessTrusted(); }
    void openSystemSettings() override;

private:
    struct KeyChoice {
        quint32 keycode = 0; // evdev
        quint32 layout = 0;
    };
    std::optional<KeyChoice> keyFor(quint32 keysym) const;
    void useKeymap(const QByteArray &text);
    void key(quint32 evdev, bool press);
    void modifiers(quint32 depressed, quint32 group);

    WaylandConnection &m_connection;
    QString m_helpPage;
    zwp_virtual_keyboard_manager_v1 *m_manager = nullptr;
    zwp_virtual_keyboard_v1 *m_keyboard = nullptr;
    wl_keyboard *m_seatKeyboard = nullptr;
    xkb_context *m_context = nullptr;
    xkb_keymap *m_keymap = nullptr;
    QByteArray m_keymapText;
    std::function<void(const QByteArray &)> m_onKeymap;
};

} // namespace Platform::Wayland
