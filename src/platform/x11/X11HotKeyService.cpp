#include "platform/x11/X11HotKeyService.h"

#include "platform/KeyEncodings.h"
#include "platform/x11/KeyCodeMap.h"
#include "platform/x11/Xcb.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdlib>
#include <memory>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
// xkb.h names a struct member `explicit`, which C++ reserves.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

namespace Platform::X11 {

namespace {

constexpr xcb_keysym_t keysymNumLock = 0xff7f;
constexpr xcb_keysym_t keysymScrollLock = 0xff14;

// The modifier bits of a key event's state (the rest are pointer buttons).
constexpr quint16 modifierBits = 0xff;

struct FreeDeleter {
    void operator()(void *p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, FreeDeleter>;

} // namespace

X11HotKeyService::X11HotKeyService()
{
    m_connection = Xcb::qtConnection();
    if (!m_connection)
        return;
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    if (!screens.rem) {
        m_connection = nullptr;
        return;
    }
    m_root = screens.data->root;

    // A held key would otherwise arrive as a release and a press for every repeat.
    const xcb_query_extension_reply_t *xkb = xcb_get_extension_data(m_connection, &xcb_xkb_id);
    if (xkb && xkb->present) {
        XcbReply<xcb_xkb_use_extension_reply_t> used(xcb_xkb_use_extension_reply(m_connection,
            xcb_xkb_use_extension(m_connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION), nullptr));
        if (used && used->supported) {
            const quint32 flag = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
            XcbReply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(m_connection,
                xcb_xkb_per_client_flags(m_connection, XCB_XKB_ID_USE_CORE_KBD, flag, flag, 0, 0, 0),
                nullptr));
            m_detectableAutoRepeat = flags && (flags->value & flag);
        }
    }
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11HotKeyService::~X11HotKeyService()
{
    if (!m_connection)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    for (const Grab &grab : std::as_const(m_grabs))
        ungrab(grab);
}

std::optional<quint16> X11HotKeyService::xModifiersForCarbon(quint32 carbonModifiers)
{
    quint16 mask = 0;
    if (carbonModifiers & CarbonModifier::command)
        mask |= XCB_MOD_MASK_CONTROL;
    if (carbonModifiers & CarbonModifier::shift)
        mask |= XCB_MOD_MASK_SHIFT;
    if (carbonModifiers & CarbonModifier::option)
        mask |= XCB_MOD_MASK_1;
    if (carbonModifiers & CarbonModifier::control)
        mask |= XCB_MOD_MASK_4;
    // Function and every bit outside the four above have no X modifier.
    if (carbonModifiers
        & ~(CarbonModifier::command | CarbonModifier::shift | CarbonModifier::option
            | CarbonModifier::control))
        return std::nullopt;
    return mask;
}

QList<quint16> X11HotKeyService::lockVariants()
{
    // Num Lock and Scroll Lock sit on whichever ModN the keymap puts them; ask every time, as
    // the keymap may have changed since the last grab.
    m_numLockMask = 0;
    m_scrollLockMask = 0;
    XcbReply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
    if (mapping && symbols) {
        const int perModifier = mapping->keycodes_per_modifier;
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(mapping.get());
        auto maskOf = [&](xcb_keysym_t keysym) -> quint16 {
            XcbReply<xcb_keycode_t> keycodes(xcb_key_symbols_get_keycode(symbols, keysym));
            if (!keycodes)
                return 0;
            for (int modifier = 0; modifier < 8; ++modifier) {
                for (int i = 0; i < perModifier; ++i) {
                    const xcb_keycode_t code = codes[modifier * perModifier + i];
                    if (code == 0)
                        continue;
                    for (const xcb_keycode_t *k = keycodes.get(); *k != XCB_NO_SYMBOL; ++k) {
                        if (*k == code)
                            return quint16(1u << modifier);
                    }
                }
            }
            return 0;
        };
        m_numLockMask = maskOf(keysymNumLock);
        m_scrollLockMask = maskOf(keysymScrollLock);
    }
    if (symbols)
        xcb_key_symbols_free(symbols);

    QList<quint16> locks {quint16(XCB_MOD_MASK_LOCK)};
    for (quint16 mask : {m_numLockMask, m_scrollLockMask}) {
        if (mask && !locks.contains(mask))
            locks.append(mask);
    }
    // Every subset of the lock masks, the empty one first.
    QList<quint16> variants {0};
    for (quint16 lock : std::as_const(locks)) {
        const qsizetype count = variants.size();
        for (qsizetype i = 0; i < count; ++i)
            variants.append(quint16(variants[i] | lock));
    }
    return variants;
}

quint16 X11HotKeyService::lockMask() const
{
    return quint16(XCB_MOD_MASK_LOCK | m_numLockMask | m_scrollLockMask);
}

void X11HotKeyService::reportUnavailable()
{
    if (m_reportedUnavailable)
        return;
    m_reportedUnavailable = true;
    QTextStream(stderr) << "tarnwick: global shortcuts are unavailable: there is no X11 display connection "
                           "(platform \""
                        << QGuiApplication::platformName()
                        << "\"); on a Wayland session start Tarnwick with QT_QPA_PLATFORM=xcb." << Qt::endl;
}

int X11HotKeyService::registerHotKey(quint32 carbonKeyCode, quint32 carbonModifiers, HotKeyId hotKeyId)
{
    if (!m_connection) {
        reportUnavailable();
        return eventInternalErr;
    }
    for (const Grab &grab : std::as_const(m_grabs)) {
        if (grab.hotKeyId.id == hotKeyId.id)
            return paramErr;
    }
    const std::optional<quint8> keycode = xKeycodeForMacKeyCode(carbonKeyCode);
    const std::optional<quint16> modifiers = xModifiersForCarbon(carbonModifiers);
    if (!keycode || !modifiers)
        return eventHotKeyInvalidErr;
    // Grabbing a combination we hold already would silently replace our own grab, and one X
    // grab cannot tell two registrations apart.
    for (const Grab &grab : std::as_const(m_grabs)) {
        if (grab.keycode == *keycode && grab.modifiers == *modifiers)
            return eventHotKeyExistsErr;
    }

    Grab grab {hotKeyId, *keycode, *modifiers, lockVariants(), false};
    QList<xcb_void_cookie_t> cookies;
    for (quint16 lock : std::as_const(grab.lockVariants)) {
        // owner_events false: the keys always come to the root window, never to a focused window of
        // ours, so a match is a match of this grab.
        cookies.append(xcb_grab_key_checked(m_connection, 0, m_root, quint16(grab.modifiers | lock),
            grab.keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    int status = noErr;
    QList<quint16> granted;
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(m_connection, cookies[i]));
        if (!error) {
            granted.append(grab.lockVariants[i]);
        } else if (status == noErr) {
            status = error->error_code == XCB_ACCESS ? eventHotKeyExistsErr : eventInternalErr;
        }
    }
    if (status != noErr) {
        Grab partial = grab;
        partial.lockVariants = granted;
        ungrab(partial);
        return status;
    }
    m_grabs.append(grab);
    return noErr;
}

void X11HotKeyService::ungrab(const Grab &grab)
{
    // Checked, so the keys are free for other clients when this returns: requests of different
    // connections are not ordered otherwise.
    QList<xcb_void_cookie_t> cookies;
    for (quint16 lock : grab.lockVariants)
        cookies.append(
            xcb_ungrab_key_checked(m_connection, grab.keycode, m_root, quint16(grab.modifiers | lock)));
    for (const xcb_void_cookie_t &cookie : std::as_const(cookies))
        std::free(xcb_request_check(m_connection, cookie));
}

void X11HotKeyService::unregisterHotKey(quint32 id)
{
    for (qsizetype i = 0; i < m_grabs.size(); ++i) {
        if (m_grabs[i].hotKeyId.id == id) {
            ungrab(m_grabs[i]);
            m_grabs.removeAt(i);
            return;
        }
    }
}

int X11HotKeyService::installEventHandler(EventHandler handler)
{
    m_handler = std::move(handler);
    return noErr;
}

void X11HotKeyService::setHandlerListening(bool listening)
{
    m_listening = listening;
}

std::optional<bool> X11HotKeyService::isTakenByAnotherClient(qint64 carbonKeyCode, qint64 carbonModifiers)
{
    if (!m_connection || carbonModifiers < 0 || carbonModifiers > 0xffffffff)
        return std::nullopt;
    const std::optional<quint8> keycode = xKeycodeForMacKeyCode(carbonKeyCode);
    const std::optional<quint16> modifiers = xModifiersForCarbon(quint32(carbonModifiers));
    if (!keycode || !modifiers)
        return std::nullopt;
    for (const Grab &grab : std::as_const(m_grabs)) {
        if (grab.keycode == *keycode && grab.modifiers == *modifiers)
            return false;
    }
    const xcb_void_cookie_t cookie = xcb_grab_key_checked(
        m_connection, 0, m_root, *modifiers, *keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    XcbReply<xcb_generic_error_t> error(xcb_request_check(m_connection, cookie));
    if (error)
        return error->error_code == XCB_ACCESS ? std::optional<bool>(true) : std::nullopt;
    std::free(
        xcb_request_check(m_connection, xcb_ungrab_key_checked(m_connection, *keycode, m_root, *modifiers)));
    return false;
}

void X11HotKeyService::deliver(EventKind kind, HotKeyId hotKeyId)
{
    if (!m_listening || !m_handler)
        return;
    const EventHandler handler = m_handler; // it may replace itself or unregister this key
    handler({kind, hotKeyId});
}

bool X11HotKeyService::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (m_grabs.isEmpty() || eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    const quint8 type = event->response_type & ~0x80;
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    // Press and release events have the same layout.
    const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
    if (key->event != m_root) {
        // A release that went to one of our own windows instead (a menu grabbed the keyboard
        // meanwhile) still ends the press, or the next real press would pass for a repeat.
        if (type == XCB_KEY_RELEASE) {
            for (Grab &grab : m_grabs) {
                if (grab.keycode == key->detail)
                    grab.pressed = false;
            }
        }
        return false;
    }

    if (type == XCB_KEY_PRESS) {
        const quint16 modifiers = quint16(key->state & modifierBits & ~lockMask());
        for (Grab &grab : m_grabs) {
            if (grab.keycode != key->detail || grab.modifiers != modifiers)
                continue;
            // With detectable auto-repeat a held key repeats its press without releases.
            if (grab.pressed)
                return true;
            grab.pressed = true;
            deliver(EventKind::hotKeyPressed, grab.hotKeyId);
            return true;
        }
        return false;
    }
    // The modifiers are often up before the key is: match the release by key and pressed state.
    for (Grab &grab : m_grabs) {
        if (grab.keycode == key->detail && grab.pressed) {
            grab.pressed = false;
            deliver(EventKind::hotKeyReleased, grab.hotKeyId);
            return true;
        }
    }
    return false;
}

} // namespace Platform::X11
