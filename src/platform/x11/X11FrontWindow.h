#pragma once

#include "platform/FrontWindow.h"

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

private:
    xcb_connection_t *m_connection;
    quint32 m_activeWindowAtom = 0;
};

} // namespace Platform::X11
