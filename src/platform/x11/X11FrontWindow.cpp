#include "platform/x11/X11FrontWindow.h"

#include "platform/x11/Xcb.h"

#include <cstdlib>

#include <xcb/xcb.h>
#include <xcb/xproto.h>

namespace Platform::X11 {

namespace {

// The WINDOW value of `property` on `window`, 0 when absent.
quint32 windowProperty(xcb_connection_t *connection, quint32 window, quint32 property)
{
    const auto cookie = xcb_get_property(connection, 0, window, property, XCB_ATOM_WINDOW, 0, 1);
    xcb_generic_error_t *error = nullptr;
    xcb_get_property_reply_t *reply = xcb_get_property_reply(connection, cookie, &error);
    std::free(error);
    quint32 result = 0;
    if (reply && reply->type == XCB_ATOM_WINDOW && reply->format == 32
        && xcb_get_property_value_length(reply) >= 4)
        result = *static_cast<const quint32 *>(xcb_get_property_value(reply));
    std::free(reply);
    return result;
}

quint32 inputFocus(xcb_connection_t *connection)
{
    xcb_generic_error_t *error = nullptr;
    xcb_get_input_focus_reply_t *reply
        = xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), &error);
    std::free(error);
    quint32 focus = reply ? reply->focus : quint32(XCB_WINDOW_NONE);
    std::free(reply);
    // None and PointerRoot name no window.
    if (focus == XCB_INPUT_FOCUS_POINTER_ROOT)
        focus = XCB_WINDOW_NONE;
    return focus;
}

} // namespace

X11FrontWindow::X11FrontWindow(xcb_connection_t *connection)
    : m_connection(connection ? connection : Xcb::qtConnection())
{
    if (m_connection)
        m_activeWindowAtom = Xcb::atom(m_connection, "_NET_ACTIVE_WINDOW");
}

FrontWindowInfo X11FrontWindow::current() const
{
    if (!m_connection || xcb_connection_has_error(m_connection))
        return {};

    quint32 active = 0;
    if (m_activeWindowAtom != 0) {
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(m_connection)); it.rem && !active;
             xcb_screen_next(&it))
            active = windowProperty(m_connection, it.data->root, m_activeWindowAtom);
    }
    return resolve(m_connection, active, [this] { return inputFocus(m_connection); });
}

FrontWindowInfo X11FrontWindow::resolve(
    xcb_connection_t *connection, quint32 active, const std::function<quint32()> &focus)
{
    if (const auto found = Xcb::classedWindow(connection, active))
        return FrontWindowInfo {found->first, found->second};
    // No EWMH window manager, or its active window is gone or has no class anywhere up its tree.
    const quint32 focused = focus();
    if (const auto found = Xcb::classedWindow(connection, focused))
        return FrontWindowInfo {found->first, found->second};
    return FrontWindowInfo {active ? active : focused, {}};
}

} // namespace Platform::X11
