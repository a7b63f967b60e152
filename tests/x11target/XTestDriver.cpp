#include "XTestDriver.h"

#include <cstdlib>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace TestX11 {

XTestDriver::XTestDriver()
{
    m_connection = xcb_connect(nullptr, nullptr);
}

XTestDriver::~XTestDriver()
{
    if (m_connection)
        xcb_disconnect(m_connection);
}

bool XTestDriver::isConnected() const
{
    return m_connection && !xcb_connection_has_error(m_connection);
}

void XTestDriver::press(quint8 keycode)
{
    xcb_test_fake_input(m_connection, XCB_KEY_PRESS, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(m_connection);
}

void XTestDriver::release(quint8 keycode)
{
    xcb_test_fake_input(m_connection, XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(m_connection);
}

QList<quint8> XTestDriver::pressedKeys() const
{
    QList<quint8> keys;
    xcb_query_keymap_reply_t *reply
        = xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr);
    if (!reply)
        return keys;
    for (int code = 8; code < 256; ++code) {
        if (reply->keys[code / 8] & (1 << (code % 8)))
            keys.append(quint8(code));
    }
    free(reply);
    return keys;
}

QList<quint8> XTestDriver::pressedModifierKeys() const
{
    QList<quint8> result;
    xcb_get_modifier_mapping_reply_t *map
        = xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr);
    if (!map)
        return result;
    const QList<quint8> down = pressedKeys();
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(map);
    for (int modifier = 0; modifier < 8; ++modifier) {
        if (modifier == 1) // Lock
            continue;
        for (int i = 0; i < map->keycodes_per_modifier; ++i) {
            const quint8 code = codes[modifier * map->keycodes_per_modifier + i];
            if (code && down.contains(code) && !result.contains(code))
                result.append(code);
        }
    }
    free(map);
    return result;
}

bool XTestDriver::clipboardHasOwner() const
{
    xcb_intern_atom_reply_t *atom
        = xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, 9, "CLIPBOARD"), nullptr);
    if (!atom)
        return false;
    xcb_get_selection_owner_reply_t *owner = xcb_get_selection_owner_reply(
        m_connection, xcb_get_selection_owner(m_connection, atom->atom), nullptr);
    const bool owned = owner && owner->owner != XCB_NONE;
    free(owner);
    free(atom);
    return owned;
}

void XTestDriver::releaseAll()
{
    for (quint8 code : pressedKeys())
        release(code);
    free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

} // namespace TestX11
