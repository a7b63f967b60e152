#pragma once

#include <QList>
#include <QtGlobal>

struct xcb_connection_t;

namespace TestX11 {

// A second X client of its own that presses keys as the user's keyboard would (through XTEST)
// and reads the server's keyboard state.
class XTestDriver {
public:
    XTestDriver();
    ~XTestDriver();
    XTestDriver(const XTestDriver &) = delete;
    XTestDriver &operator=(const XTestDriver &) = delete;

    bool isConnected() const;

    void press(quint8 keycode);
    void release(quint8 keycode);

    // Presses the keys in order, then releases them in `releaseOrder` (reverse order by default).
    void chord(const QList<quint8> &keys, QList<quint8> releaseOrder = {});

    // A round trip: every request sent so far has been processed by the server.
    void sync() const;

    // Grabs a combination (an X modifier mask) on the root window for this client; answers the X
    // error code, 0 when the grab is ours. ungrab() lets it go.
    int grab(quint8 keycode, quint16 modifiers) const;
    void ungrab(quint8 keycode, quint16 modifiers) const;

    // Keycodes that the server counts as down now.
    QList<quint8> pressedKeys() const;

    // The keycodes bound to the modifiers Shift, Control and Mod1..Mod5 that are down now.
    QList<quint8> pressedModifierKeys() const;

    // The modifier state as the server has it (an X modifier mask: Lock while Caps Lock is on).
    quint16 modifierState() const;

    // Whether any client owns the CLIPBOARD selection.
    bool clipboardHasOwner() const;

    // Whether another client holds a passive grab of `keycode` with exactly `modifiers` (an X
    // modifier mask) on the root window: found by trying to grab it ourselves.
    bool isKeyGrabbedByAnother(quint8 keycode, quint16 modifiers) const;

    // Whether a viewable window of process `pid` sits inside a window of process `hostPid`
    // (an icon docked in a tray, say), as told by the windows' _NET_WM_PID.
    bool hasWindowOfProcessInside(qint64 pid, qint64 hostPid) const;

    // Releases every key that is down (so one test cannot leave a key to the next).
    void releaseAll();

private:
    xcb_connection_t *m_connection = nullptr;
};

// X keycodes of the usual left-hand modifier keys and a few letters (evdev code + 8).
inline constexpr quint8 keyShiftL = 50;
inline constexpr quint8 keyControlL = 37;
inline constexpr quint8 keyAltL = 64;
inline constexpr quint8 keyE = 26;
inline constexpr quint8 keyK = 45;
inline constexpr quint8 keyCapsLock = 66;
inline constexpr quint8 keyNumLock = 77;

// X modifier masks.
inline constexpr quint16 shiftMask = 1;
inline constexpr quint16 controlMask = 4;
inline constexpr quint16 mod1Mask = 8; // Alt

} // namespace TestX11
