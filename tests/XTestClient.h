#pragma once

// A second X client for the X11 tests: sends keystrokes with XTest, holds grabs of its own and
// receives key events in a focused window, so the program under test meets another client as it
// would on a desktop.

#include <QList>
#include <QTest>

#include <cstdlib>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

namespace XKeys {
// X keycodes (evdev + 8) of a US keyboard, as Xvfb sets it up.
constexpr quint8 e = 26;
constexpr quint8 k = 45;
constexpr quint8 controlL = 37;
constexpr quint8 shiftL = 50;
constexpr quint8 altL = 64;
constexpr quint8 capsLock = 66;
constexpr quint8 numLock = 77;
} // namespace XKeys

class XTestClient {
public:
    struct KeyEvent {
        bool press = true;
        quint8 keycode = 0;
        friend bool operator==(const KeyEvent &, const KeyEvent &) = default;
    };

    XTestClient()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection)) {
            xcb_disconnect(m_connection);
            m_connection = nullptr;
            return;
        }
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~XTestClient()
    {
        if (m_connection)
            xcb_disconnect(m_connection);
    }
    XTestClient(const XTestClient &) = delete;
    XTestClient &operator=(const XTestClient &) = delete;

    bool isConnected() const { return m_connection != nullptr; }
    xcb_connection_t *connection() const { return m_connection; }

    void key(quint8 keycode, bool press)
    {
        xcb_test_fake_input(m_connection, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME,
            XCB_NONE, 0, 0, 0);
        sync();
    }

    // Presses the keys in order, then releases them in `releaseOrder` (reverse order by default).
    void chord(const QList<quint8> &keys, QList<quint8> releaseOrder = {})
    {
        if (releaseOrder.isEmpty())
            releaseOrder = QList<quint8>(keys.crbegin(), keys.crend());
        for (quint8 k : keys)
            key(k, true);
        for (quint8 k : releaseOrder)
            key(k, false);
    }

    void tap(quint8 keycode)
    {
        key(keycode, true);
        key(keycode, false);
    }

    // A round trip, so every request sent so far has been processed by the server.
    void sync()
    {
        std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

    // The server's modifier state (of the core keyboard), as seen by the pointer query.
    quint16 modifierState()
    {
        auto *reply = xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, m_root), nullptr);
        const quint16 mask = reply ? reply->mask : 0;
        std::free(reply);
        return mask & 0xff;
    }

    // Grabs a combination on the root window; answers the X error code, 0 on success.
    int grab(quint8 keycode, quint16 modifiers)
    {
        auto cookie = xcb_grab_key_checked(
            m_connection, 1, m_root, modifiers, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t *error = xcb_request_check(m_connection, cookie);
        const int code = error ? error->error_code : 0;
        std::free(error);
        return code;
    }

    void ungrab(quint8 keycode, quint16 modifiers)
    {
        xcb_ungrab_key(m_connection, keycode, m_root, modifiers);
        sync();
    }

    // An unmanaged window that takes the keyboard focus and records the key events it gets.
    void createFocusedWindow()
    {
        m_window = xcb_generate_id(m_connection);
        const quint32 values[] = {1, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE};
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, m_window, m_root, 0, 0, 50, 50, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK,
            values);
        xcb_map_window(m_connection, m_window);
        sync();
        xcb_set_input_focus(m_connection, XCB_INPUT_FOCUS_POINTER_ROOT, m_window, XCB_CURRENT_TIME);
        sync();
    }

    // Key events that reached this client's window since the last clearKeyEvents().
    const QList<KeyEvent> &keyEvents()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            const quint8 type = event->response_type & ~0x80;
            if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
                auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
                m_keyEvents.append({type == XCB_KEY_PRESS, key->detail});
            }
            std::free(event);
        }
        return m_keyEvents;
    }

    void clearKeyEvents()
    {
        keyEvents();
        m_keyEvents.clear();
    }

    void destroyWindow()
    {
        if (m_window) {
            xcb_destroy_window(m_connection, m_window);
            m_window = 0;
            sync();
        }
    }

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = 0;
    xcb_window_t m_window = 0;
    QList<KeyEvent> m_keyEvents;
};
