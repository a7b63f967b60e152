#include "platform/x11/XkbKeymap.h"

#include "platform/x11/Xcb.h"

#include <QCoreApplication>

#include <cstdlib>

#include <xcb/xcb.h>
// <xcb/xkb.h> names a struct member `explicit`.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace Platform::X11 {

void XkbKeymap::KeymapDeleter::operator()(xkb_keymap *keymap) const
{
    xkb_keymap_unref(keymap);
}

std::unique_ptr<XkbKeymap> XkbKeymap::create()
{
    xcb_connection_t *connection = Xcb::qtConnection();
    if (!connection)
        return nullptr;
    if (!xkb_x11_setup_xkb_extension(connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
        return nullptr;
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(connection, &xcb_xkb_id);
    if (!extension || !extension->present)
        return nullptr;
    const qint32 deviceId = xkb_x11_get_core_keyboard_device_id(connection);
    if (deviceId < 0)
        return nullptr;

    // Only adds our interest to whatever Qt itself selected on this connection.
    constexpr quint16 events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    constexpr quint16 mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS
        | XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS
        | XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events(
        connection, xcb_xkb_device_spec_t(deviceId), events, 0, events, mapParts, mapParts, nullptr);
    xcb_flush(connection);

    return std::unique_ptr<XkbKeymap>(new XkbKeymap(connection, extension->first_event, deviceId));
}

XkbKeymap::XkbKeymap(xcb_connection_t *connection, quint8 xkbEventBase, qint32 deviceId)
    : m_connection(connection)
    , m_xkbEventBase(xkbEventBase)
    , m_deviceId(deviceId)
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

XkbKeymap::~XkbKeymap()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool XkbKeymap::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != m_xkbEventBase)
        return false;
    // Every XKB event carries its own kind in the second byte.
    const quint8 xkbType = reinterpret_cast<const quint8 *>(event)[1];
    if (xkbType == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkbType == XCB_XKB_MAP_NOTIFY)
        m_stale = true;
    // Qt needs the same events for its own keymap.
    return false;
}

xkb_keymap *XkbKeymap::keymap()
{
    if (!m_stale)
        return m_keymap.get();
    m_stale = false;
    ++m_loads;
    m_keymap.reset();
    xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES);
    if (!context)
        return nullptr;
    m_keymap.reset(
        xkb_x11_keymap_new_from_device(context, m_connection, m_deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS));
    xkb_context_unref(context); // the keymap holds its own reference
    return m_keymap.get();
}

std::optional<quint32> XkbKeymap::activeLayout() const
{
    xcb_xkb_get_state_reply_t *reply = xcb_xkb_get_state_reply(
        m_connection, xcb_xkb_get_state(m_connection, xcb_xkb_device_spec_t(m_deviceId)), nullptr);
    if (!reply)
        return std::nullopt;
    const quint32 group = reply->group;
    std::free(reply);
    return group;
}

} // namespace Platform::X11
