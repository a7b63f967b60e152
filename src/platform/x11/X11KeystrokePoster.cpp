#include "platform/x11/X11KeystrokePoster.h"

#include "platform/x11/KeyCodeMap.h"

#include <QGuiApplication>

#include <array>
#include <cstdlib>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

namespace Platform::X11 {

namespace {

// AppKit modifier flags and the macOS key codes of their left-hand keys, in pressing order.
constexpr std::array<std::pair<quint64, qint64>, 4> modifierKeys {{
    {0x40000, 0x3B}, // Control: the Super key
    {0x80000, 0x3A}, // Option: Alt
    {0x20000, 0x38}, // Shift
    {0x100000, 0x37}, // Command: Control
}};

constexpr int lockModifierIndex = 1; // Shift, Lock, Control, Mod1..Mod5

bool isLockKey(xcb_key_symbols_t *symbols, xcb_keycode_t keycode)
{
    for (int column = 0; column < 4; ++column) {
        const xcb_keysym_t sym = xcb_key_symbols_get_keysym(symbols, keycode, column);
        if (sym == XK_Num_Lock || sym == XK_Caps_Lock || sym == XK_Shift_Lock || sym == XK_Scroll_Lock)
            return true;
    }
    return false;
}

} // namespace

X11KeystrokePoster::X11KeystrokePoster(Clock &clock)
    : m_clock(clock)
{
    if (auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
        m_connection = x11->connection();
}

X11KeystrokePoster::~X11KeystrokePoster()
{
    *m_alive = false;
}

bool X11KeystrokePoster::isAvailable() const
{
    if (!m_connection || xcb_connection_has_error(m_connection))
        return false;
    const xcb_query_extension_reply_t *xtest = xcb_get_extension_data(m_connection, &xcb_test_id);
    return xtest && xtest->present;
}

QList<quint8> X11KeystrokePoster::heldModifierKeys() const
{
    QList<quint8> held;
    const auto mapCookie = xcb_get_modifier_mapping(m_connection);
    const auto keymapCookie = xcb_query_keymap(m_connection);
    xcb_get_modifier_mapping_reply_t *map = xcb_get_modifier_mapping_reply(m_connection, mapCookie, nullptr);
    xcb_query_keymap_reply_t *keymap = xcb_query_keymap_reply(m_connection, keymapCookie, nullptr);
    if (map && keymap) {
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
        const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(map);
        const int perModifier = map->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier) {
            if (modifier == lockModifierIndex)
                continue;
            for (int i = 0; i < perModifier; ++i) {
                const xcb_keycode_t code = codes[modifier * perModifier + i];
                const bool down = code != 0 && (keymap->keys[code / 8] & (1 << (code % 8)));
                if (down && !held.contains(code) && !(symbols && isLockKey(symbols, code)))
                    held.append(code);
            }
        }
        if (symbols)
            xcb_key_symbols_free(symbols);
    }
    free(map);
    free(keymap);
    return held;
}

void X11KeystrokePoster::fakeKey(bool press, quint8 keycode) const
{
    xcb_test_fake_input(
        m_connection, press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    // Each event on its own: a target that reads the keyboard state between events must see
    // them in this order.
    xcb_flush(m_connection);
}

QCoro::Task<> X11KeystrokePoster::postKeystroke(quint16 keyCode, quint64 flags)
{
    const std::optional<quint8> key = xKeycodeForMacKeyCode(keyCode);
    if (!key || !isAvailable())
        co_return;
    QList<quint8> modifiers;
    for (const auto &[flag, macCode] : modifierKeys) {
        if (flags & flag) {
            const std::optional<quint8> code = xKeycodeForMacKeyCode(macCode);
            if (!code)
                co_return;
            modifiers.append(*code);
        }
    }

    const std::shared_ptr<bool> alive = m_alive;
    const Clock::Duration deadline = m_clock.now() + modifierWait;
    while (!heldModifierKeys().isEmpty() && m_clock.now() < deadline) {
        co_await m_clock.sleep(modifierPoll);
        if (!*alive || !isAvailable())
            co_return;
    }
    // Still held after the wait: the user is resting a finger on one. Released here, the key
    // stays up for the target until the user presses it again.
    for (quint8 code : heldModifierKeys())
        fakeKey(false, code);

    // From here to the end nothing waits, so every key pressed below is released below.
    for (quint8 code : modifiers)
        fakeKey(true, code);
    fakeKey(true, *key);
    fakeKey(false, *key);
    for (auto it = modifiers.crbegin(); it != modifiers.crend(); ++it)
        fakeKey(false, *it);
}

} // namespace Platform::X11
