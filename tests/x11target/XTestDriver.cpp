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

void XTestDriver::chord(const QList<quint8> &keys, QList<quint8> releaseOrder)
{
    if (releaseOrder.isEmpty())
        releaseOrder = QList<quint8>(keys.crbegin(), keys.crend());
    for (quint8 key : keys)
        press(key);
    for (quint8 key : releaseOrder)
        release(key);
    sync();
}

void XTestDriver::sync() const
{
    free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

int XTestDriver::grab(quint8 keycode, quint16 modifiers) const
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    xcb_generic_error_t *error = xcb_request_check(m_connection,
        xcb_grab_key_checked(
            m_connection, 1, root, modifiers, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    const int code = error ? error->error_code : 0;
    free(error);
    return code;
}

void XTestDriver::ungrab(quint8 keycode, quint16 modifiers) const
{
    xcb_ungrab_key(
        m_connection, keycode, xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root, modifiers);
    sync();
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

quint16 XTestDriver::modifierState() const
{
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    xcb_query_pointer_reply_t *reply
        = xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, root), nullptr);
    const quint16 mask = reply ? reply->mask & 0xff : 0;
    free(reply);
    return mask;
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

bool XTestDriver::isKeyGrabbedByAnother(quint8 keycode, quint16 modifiers) const
{
    const int error = grab(keycode, modifiers);
    if (!error)
        ungrab(keycode, modifiers);
    return error == XCB_ACCESS;
}

namespace {

qint64 windowPid(xcb_connection_t *connection, xcb_atom_t pidAtom, xcb_window_t window)
{
    xcb_get_property_reply_t *reply = xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
    qint64 pid = -1;
    if (reply && xcb_get_property_value_length(reply) == 4)
        pid = *static_cast<const quint32 *>(xcb_get_property_value(reply));
    free(reply);
    return pid;
}

} // namespace

bool XTestDriver::hasWindowOfProcessInside(qint64 pid, qint64 hostPid) const
{
    xcb_intern_atom_reply_t *atom
        = xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, 11, "_NET_WM_PID"), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t pidAtom = atom->atom;
    free(atom);

    // Depth-first over the whole tree, remembering whether a window of the host is an ancestor.
    struct Entry {
        xcb_window_t window;
        bool insideHost;
    };
    QList<Entry> pending {{xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root, false}};
    while (!pending.isEmpty()) {
        const Entry entry = pending.takeLast();
        xcb_query_tree_reply_t *tree
            = xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, entry.window), nullptr);
        if (!tree)
            continue;
        const xcb_window_t *children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            const qint64 owner = windowPid(m_connection, pidAtom, children[i]);
            if (owner == pid && entry.insideHost) {
                xcb_get_window_attributes_reply_t *attributes = xcb_get_window_attributes_reply(
                    m_connection, xcb_get_window_attributes(m_connection, children[i]), nullptr);
                const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
                free(attributes);
                if (viewable) {
                    free(tree);
                    return true;
                }
            }
            pending.append({children[i], entry.insideHost || owner == hostPid});
        }
        free(tree);
    }
    return false;
}

void XTestDriver::releaseAll()
{
    for (quint8 code : pressedKeys())
        release(code);
    sync();
}

} // namespace TestX11
