#include "platform/x11/X11KeystrokePoster.h"

#include "platform/KeyEncodings.h"
#include "platform/x11/KeyCodeMap.h"
#include "platform/x11/Xcb.h"
#include "platform/x11/XkbKeymap.h"

#include <array>
#include <cstdlib>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon.h>

namespace Platform::X11 {

namespace {

// AppKit modifier flags and the macOS key codes of their left-hand keys, in pressing order.
constexpr std::array<std::pair<quint64, qint64>, 4> modifierKeys {{
    {AppKitModifier::control, MacKeyCode::control}, // Super_L
    {AppKitModifier::option, MacKeyCode::option}, // Alt_L
    {AppKitModifier::shift, MacKeyCode::shift}, // Shift_L
    {AppKitModifier::command, MacKeyCode::command}, // Control_L
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

bool typesOnFirstLevel(xkb_keymap *keymap, xkb_keycode_t keycode, xkb_layout_index_t layout, quint32 keysym)
{
    const xkb_keysym_t *syms = nullptr;
    return xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, 0, &syms) == 1 && syms[0] == keysym;
}

// X core keycodes; xkbcommon knows larger ones that XTEST cannot send.
constexpr xkb_keycode_t firstKeycode = 8;
constexpr xkb_keycode_t lastKeycode = 255;

} // namespace

X11KeystrokePoster::X11KeystrokePoster(Clock &clock)
    : m_clock(clock)
    , m_connection(Xcb::qtConnection())
    , m_keymap(XkbKeymap::create())
{
}

X11KeystrokePoster::~X11KeystrokePoster()
{
    *m_alive = false;
    takeOffSpareKeys();
}

bool X11KeystrokePoster::isAvailable() const
{
    return Xcb::hasXTest(m_connection);
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

std::optional<quint8> X11KeystrokePoster::keycodeForKeysym(quint32 keysym, quint32 activeLayout)
{
    for (auto it = m_spares.cbegin(); it != m_spares.cend(); ++it) {
        if (it.value() == keysym)
            return it.key();
    }
    xkb_keymap *keymap = m_keymap ? m_keymap->keymap() : nullptr;
    if (!keymap)
        return std::nullopt;
    // The active layout first: a key there types exactly the symbol. Otherwise a key that has it
    // in another layout, as a Russian layout's "с" key has "c" in the US layout beside it:
    // applications match a shortcut on the other layouts of the pressed key too.
    const xkb_layout_index_t layouts = std::max<xkb_layout_index_t>(xkb_keymap_num_layouts(keymap), 1);
    for (xkb_layout_index_t step = 0; step < layouts; ++step) {
        const xkb_layout_index_t layout = (activeLayout + step) % layouts;
        for (xkb_keycode_t keycode = firstKeycode; keycode <= lastKeycode; ++keycode) {
            const xkb_layout_index_t keyLayouts = xkb_keymap_num_layouts_for_key(keymap, keycode);
            // A key with fewer layouts than the keymap wraps around, as the server does.
            if (keyLayouts > 0 && typesOnFirstLevel(keymap, keycode, layout % keyLayouts, keysym))
                return quint8(keycode);
        }
    }
    return std::nullopt;
}

bool X11KeystrokePoster::setKeysym(quint8 keycode, quint32 keysym)
{
    const xcb_keysym_t syms[2] = {keysym, XCB_NO_SYMBOL};
    const xcb_void_cookie_t cookie = xcb_change_keyboard_mapping_checked(m_connection, 1, keycode, 2, syms);
    xcb_generic_error_t *error = xcb_request_check(m_connection, cookie);
    free(error);
    if (m_keymap)
        m_keymap->invalidate();
    return error == nullptr;
}

std::optional<quint8> X11KeystrokePoster::putOnSpareKey(quint32 keysym)
{
    xkb_keymap *keymap = m_keymap ? m_keymap->keymap() : nullptr;
    if (!keymap)
        return std::nullopt;
    // From the top: the low key codes are the real keys of keyboards.
    for (xkb_keycode_t keycode = lastKeycode; keycode >= firstKeycode; --keycode) {
        if (m_spares.contains(quint8(keycode)) || xkb_keymap_num_layouts_for_key(keymap, keycode) > 0)
            continue;
        if (!setKeysym(quint8(keycode), keysym))
            return std::nullopt;
        m_spares.insert(quint8(keycode), keysym);
        return quint8(keycode);
    }
    return std::nullopt;
}

void X11KeystrokePoster::takeOffSpareKeys()
{
    m_spareTimer.reset();
    if (!m_connection || xcb_connection_has_error(m_connection))
        return;
    for (auto it = m_spares.cbegin(); it != m_spares.cend(); ++it)
        setKeysym(it.key(), XCB_NO_SYMBOL);
    m_spares.clear();
}

QCoro::Task<> X11KeystrokePoster::postKeystroke(quint16 keyCode, quint64 flags)
{
    const std::optional<quint32> keysym = keysymForMacKeyCode(keyCode);
    if (!keysym || !isAvailable())
        co_return;
    QList<quint32> modifierSyms;
    for (const auto &[flag, macCode] : modifierKeys) {
        if (flags & flag)
            modifierSyms.append(*keysymForMacKeyCode(macCode));
    }

    const std::shared_ptr<bool> alive = m_alive;
    const Clock::Duration deadline = m_clock.now() + modifierWait;
    while (!heldModifierKeys().isEmpty() && m_clock.now() < deadline) {
        co_await m_clock.sleep(modifierPoll);
        if (!*alive || !isAvailable())
            co_return;
    }

    // The keymap may have changed during the wait: the keys are found now.
    const quint32 activeLayout = m_keymap ? m_keymap->activeLayout().value_or(0) : 0;
    QList<quint8> modifiers;
    for (quint32 sym : std::as_const(modifierSyms)) {
        std::optional<quint8> code = keycodeForKeysym(sym, activeLayout);
        if (!code)
            code = putOnSpareKey(sym);
        if (!code)
            co_return;
        modifiers.append(*code);
    }
    std::optional<quint8> key = keycodeForKeysym(*keysym, activeLayout);
    if (!key)
        key = putOnSpareKey(*keysym);
    if (!key)
        co_return;

    // Still held after the wait: the user is resting a finger on one. Released here, the key
    // stays up for the target until the user presses it again.
    for (quint8 code : heldModifierKeys())
        fakeKey(false, code);

    // From here to the end nothing waits, so every key pressed below is released below.
    for (quint8 code : std::as_const(modifiers))
        fakeKey(true, code);
    fakeKey(true, *key);
    fakeKey(false, *key);
    for (auto it = modifiers.crbegin(); it != modifiers.crend(); ++it)
        fakeKey(false, *it);

    // The target reads the key's symbols when it handles the event, maybe after a while; taking
    // them off at once could leave it reading an empty key.
    if (!m_spares.isEmpty())
        m_spareTimer = m_clock.singleShot(spareKeyHold, [this] { takeOffSpareKeys(); });
}

} // namespace Platform::X11
