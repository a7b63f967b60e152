#pragma once

#include "platform/FrontWindow.h"

#include <functional>

struct xcb_connection_t;

namespace Platform::X11 {

// The focused window on X11: the window manager's _NET_ACTIVE_WINDOW on the root window, or,
// when there is none (no EWMH window manager) or it names no usable window, the input focus;
// reported as the nearest window up the tree that carries WM_CLASS.
class X11FrontWindow final : public FrontWindow {
public:
    // Uses `connection`, or Qt's own connection when it is null. Without an X connection every
    // look-up answers an unknown window.
    explicit X11FrontWindow(xcb_connection_t *connection = nullptr);

    FrontWindowInfo current() const override;

    // The decision on its own: `active` (0 for none) when it or an ancestor carries a class,
    // else the window `focus` names (asked only then), else an unknown window.
    static FrontWindowInfo resolve(
        xcb_connection_t *connection, quint32 active, const std::function<quint32()> &focus);

private:
    xcb_connection_t *m_connection;
    quint32 m_activeWindowAtom = 0;
};

} // namespace Platform::X11
