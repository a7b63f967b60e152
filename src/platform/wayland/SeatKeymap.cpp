#include "platform/wayland/SeatKeymap.h"

#include "platform/wayland/WaylandConnection.h"
#include "platform/x11/KeyCodeMap.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

namespace Platform::Wayland {

namespace {

constexpr quint32 evdevToXkb = 8;

xkb_keysym_t unshiftedSymbol(xkb_keymap *keymap, xkb_keycode_t keycode, xkb_layout_index_t layout)
{
    const xkb_keysym_t *symbols = nullptr;
    return xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, 0, &symbols) > 0 ? symbols[0]
                                                                                      : XKB_KEY_NoSymbol;
}

} // namespace

SeatKeymap::SeatKeymap(WaylandConnection &connection)
    : m_connection(connection)
{
    m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!m_context)
        return;
    const xkb_rule_names us {"evdev", "pc105", "us", "", ""};
    m_usKeymap = xkb_keymap_new_from_names(m_context, &us, XKB_KEYMAP_COMPILE_NO_FLAGS);
    m_onKeymap = [this](const QByteArray &text) {
        if (xkb_keymap *keymap = xkb_keymap_new_from_string(
                m_context, text.constData(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS)) {
            xkb_keymap_unref(m_keymap);
            m_keymap = keymap;
        }
    };
    m_keyboard = connection.followSeatKeymap(&m_onKeymap);
    if (m_keyboard)
        connection.roundtrip();
    if (!m_keymap)
        m_keymap = xkb_keymap_new_from_names(m_context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
}

SeatKeymap::~SeatKeymap()
{
    if (m_keyboard) {
        wl_keyboard_release(m_keyboard);
        m_connection.flush();
    }
    xkb_keymap_unref(m_keymap);
    xkb_keymap_unref(m_usKeymap);
    xkb_context_unref(m_context);
}

std::optional<quint32> SeatKeymap::keyFor(quint32 keysym) const
{
    if (!m_keymap)
        return std::nullopt;
    for (xkb_layout_index_t layout = 0; layout < xkb_keymap_num_layouts(m_keymap); ++layout) {
        for (xkb_keycode_t code = xkb_keymap_min_keycode(m_keymap); code <= xkb_keymap_max_keycode(m_keymap);
             ++code) {
            if (code >= evdevToXkb && unshiftedSymbol(m_keymap, code, layout) == keysym)
                return code - evdevToXkb;
        }
    }
    return std::nullopt;
}

quint32 SeatKeymap::usSymbol(quint16 keyCode) const
{
    const std::optional<quint8> xKeycode = X11::xKeycodeForMacKeyCode(keyCode);
    return xKeycode && m_usKeymap ? unshiftedSymbol(m_usKeymap, *xKeycode, 0) : XKB_KEY_NoSymbol;
}

QString SeatKeymap::unshiftedCharacters(quint16 keyCode) const
{
    const std::optional<quint8> xKeycode = X11::xKeycodeForMacKeyCode(keyCode);
    if (!xKeycode || !m_keymap)
        return {};
    // The first layout that types Latin letters: the one shortcuts are named by.
    constexpr xkb_keycode_t qKey = 24; // Q on a US keyboard
    xkb_layout_index_t latin = 0;
    for (xkb_layout_index_t layout = 0; layout < xkb_keymap_num_layouts(m_keymap); ++layout) {
        const xkb_keysym_t symbol = unshiftedSymbol(m_keymap, qKey, layout);
        if (symbol >= XKB_KEY_a && symbol <= XKB_KEY_z) {
            latin = layout;
            break;
        }
    }
    char text[16] = {};
    const int size = xkb_keysym_to_utf8(unshiftedSymbol(m_keymap, *xKeycode, latin), text, sizeof text);
    return size > 1 ? QString::fromUtf8(text, size - 1) : QString();
}

} // namespace Platform::Wayland
