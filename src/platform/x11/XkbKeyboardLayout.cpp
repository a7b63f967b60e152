#include "platform/x11/XkbKeyboardLayout.h"

#include "platform/x11/KeyCodeMap.h"
#include "platform/x11/XcbWindows.h"

#include <QCoreApplication>

#include <memory>

#include <xcb/xcb.h>
// <xcb/xkb.h> names a struct member `explicit`.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace Platform::X11 {

namespace {

struct ContextDeleter {
    void operator()(xkb_context *context) const { xkb_context_unref(context); }
};
struct KeymapDeleter {
    void operator()(xkb_keymap *keymap) const { xkb_keymap_unref(keymap); }
};

// X keycodes of the letter keys q w e r t y u i o p, the row a layout is judged Latin by.
constexpr xkb_keycode_t qwertyRow[] = {24, 25, 26, 27, 28, 29, 30, 31, 32, 33};

QString textOfKey(xkb_keymap *keymap, xkb_keycode_t keycode, xkb_layout_index_t layout)
{
    const xkb_keysym_t *syms = nullptr;
    const int count = xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, 0, &syms);
    if (count != 1)
        return {};
    char buffer[16];
    const int size = xkb_keysym_to_utf8(syms[0], buffer, sizeof buffer);
    // size counts the terminating NUL; 0 means the keysym types no character.
    if (size <= 1)
        return {};
    return QString::fromUtf8(buffer, size - 1);
}

bool typesLatinLetters(xkb_keymap *keymap, xkb_layout_index_t layout)
{
    for (xkb_keycode_t keycode : qwertyRow) {
        const QString text = textOfKey(keymap, keycode, layout);
        if (text.size() != 1 || text[0] < QLatin1Char('a') || text[0] > QLatin1Char('z'))
            return false;
    }
    return true;
}

} // namespace

std::unique_ptr<XkbKeyboardLayout> XkbKeyboardLayout::create()
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

    return std::unique_ptr<XkbKeyboardLayout>(
        new XkbKeyboardLayout(connection, extension->first_event, deviceId));
}

XkbKeyboardLayout::XkbKeyboardLayout(xcb_connection_t *connection, quint8 xkbEventBase, qint32 deviceId)
    : m_connection(connection)
    , m_xkbEventBase(xkbEventBase)
    , m_deviceId(deviceId)
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->installNativeEventFilter(this);
}

XkbKeyboardLayout::~XkbKeyboardLayout()
{
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool XkbKeyboardLayout::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
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

void XkbKeyboardLayout::reloadIfNeeded() const
{
    if (m_stale)
        reload();
}

void XkbKeyboardLayout::reload() const
{
    m_stale = false;
    ++m_loads;
    m_characters.fill(QString());
    m_layoutIndex = -1;
    const std::unique_ptr<xkb_context, ContextDeleter> context(
        xkb_context_new(XKB_CONTEXT_NO_DEFAULT_INCLUDES));
    if (!context)
        return;
    const std::unique_ptr<xkb_keymap, KeymapDeleter> keymap(
        xkb_x11_keymap_new_from_device(context.get(), m_connection, m_deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return;

    // Without any Latin layout the first one still names the keys better than nothing.
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap.get());
    xkb_layout_index_t chosen = 0;
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        if (typesLatinLetters(keymap.get(), layout)) {
            chosen = layout;
            break;
        }
    }
    m_layoutIndex = int(chosen);
    for (quint16 mac = 0; mac < m_characters.size(); ++mac) {
        const auto keycode = xKeycodeForMacKeyCode(mac);
        if (!keycode)
            continue;
        // A key with fewer groups than the keymap wraps around, as the server does.
        const xkb_layout_index_t keyLayouts = xkb_keymap_num_layouts_for_key(keymap.get(), *keycode);
        if (keyLayouts == 0)
            continue;
        m_characters[mac] = textOfKey(keymap.get(), *keycode, chosen % keyLayouts);
    }
}

QString XkbKeyboardLayout::unshiftedCharacters(quint16 keyCode) const
{
    reloadIfNeeded();
    if (keyCode >= m_characters.size())
        return {};
    return m_characters[keyCode];
}

int XkbKeyboardLayout::latinLayoutIndex() const
{
    reloadIfNeeded();
    return m_layoutIndex;
}

} // namespace Platform::X11
