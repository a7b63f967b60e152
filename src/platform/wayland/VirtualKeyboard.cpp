#include "platform/wayland/VirtualKeyboard.h"

#include "platform/KeyEncodings.h"
#include "platform/wayland/WaylandConnection.h"
#include "platform/x11/KeyCodeMap.h"

#include <QDesktopServices>
#include <QUrl>

#include <array>
#include <chrono>

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace Platform::Wayland {

namespace {

constexpr quint32 keymapFormatXkbV1 = 1;

struct ModifierKey {
    quint64 flag;
    xkb_keysym_t keysym;
    const char *modifier;
};
// In pressing order, as on X11: Command is the Control key, Control the Super key, Option Alt.
constexpr std::array<ModifierKey, 4> modifierKeys {{
    {AppKitModifier::control, XKB_KEY_Super_L, XKB_MOD_NAME_LOGO},
    {AppKitModifier::option, XKB_KEY_Alt_L, XKB_MOD_NAME_ALT},
    {AppKitModifier::shift, XKB_KEY_Shift_L, XKB_MOD_NAME_SHIFT},
    {AppKitModifier::command, XKB_KEY_Control_L, XKB_MOD_NAME_CTRL},
}};

quint32 milliseconds()
{
    using namespace std::chrono;
    return quint32(duration_cast<std::chrono::milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// The symbol the US layout types at the key with this X keycode, with no modifier: what
// applications match a shortcut's key by.
xkb_keysym_t usSymbol(xkb_context *context, quint32 xKeycode)
{
    static xkb_keymap *const us = [context] {
        const xkb_rule_names names {"evdev", "pc105", "us", "", ""};
        return xkb_keymap_new_from_names(context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    }();
    const xkb_keysym_t *syms = nullptr;
    if (!us || xkb_keymap_key_get_syms_by_level(us, xKeycode, 0, 0, &syms) < 1)
        return XKB_KEY_NoSymbol;
    return syms[0];
}

} // namespace

VirtualKeyboard::VirtualKeyboard(WaylandConnection &connection, QString helpPage)
    : m_connection(connection)
    , m_helpPage(std::move(helpPage))
{
    m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    m_manager = static_cast<zwp_virtual_keyboard_manager_v1 *>(
        connection.bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
    if (!m_manager || !m_context || !connection.seat())
        return;

    m_onKeymap = [this](const QByteArray &text) {
        if (m_keyboard)
            useKeymap(text);
        else
            m_keymapText = text;
    };
    const auto followSeatKeymap = [&] { m_seatKeyboard = connection.followSeatKeymap(&m_onKeymap); };
    if (connection.seatHasKeyboard()) {
        followSeatKeymap();
        connection.roundtrip();
    }
    if (m_keymapText.isEmpty()) {
        // No keyboard on the seat (a headless compositor): the environment's keymap.
        xkb_keymap *keymap = xkb_keymap_new_from_names(m_context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
        if (!keymap)
            return;
        char *text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
        xkb_keymap_unref(keymap);
        if (!text)
            return;
        const QByteArray keymapText(text);
        free(text);
        m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, connection.seat());
        useKeymap(keymapText);
        // Our keyboard gives the seat one; the user's keymap arrives when a real one appears.
        connection.roundtrip();
        if (connection.seatHasKeyboard())
            followSeatKeymap();
    } else {
        m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, connection.seat());
        const QByteArray text = m_keymapText;
        m_keymapText.clear();
        useKeymap(text);
    }
    connection.roundtrip();
}

VirtualKeyboard::~VirtualKeyboard()
{
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
    if (m_seatKeyboard)
        wl_keyboard_release(m_seatKeyboard);
    if (m_manager)
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(m_manager));
    m_connection.flush();
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    if (m_context)
        xkb_context_unref(m_context);
}

void VirtualKeyboard::useKeymap(const QByteArray &text)
{
    // The compositor hands our own keymap back to us once our keyboard has typed: not a change.
    if (text == m_keymapText)
        return;
    xkb_keymap *keymap = xkb_keymap_new_from_string(
        m_context, text.constData(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return;
    const int fd = ::memfd_create("tarnwick-keymap", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, text.constData(), size_t(text.size()) + 1) != text.size() + 1) {
        if (fd >= 0)
            ::close(fd);
        xkb_keymap_unref(keymap);
        return;
    }
    zwp_virtual_keyboard_v1_keymap(m_keyboard, keymapFormatXkbV1, fd, quint32(text.size() + 1));
    ::close(fd);
    m_connection.flush();
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    m_keymap = keymap;
    m_keymapText = text;
}

std::optional<VirtualKeyboard::KeyChoice> VirtualKeyboard::keyFor(quint32 keysym) const
{
    if (!m_keymap)
        return std::nullopt;
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(m_keymap);
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        for (xkb_keycode_t code = xkb_keymap_min_keycode(m_keymap); code <= xkb_keymap_max_keycode(m_keymap);
             ++code) {
            const xkb_keysym_t *syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(m_keymap, code, layout, 0, &syms);
            for (int i = 0; i < count; ++i) {
                if (syms[i] == keysym && code >= 8)
                    return KeyChoice {code - 8, layout};
            }
        }
    }
    return std::nullopt;
}

void VirtualKeyboard::key(quint32 evdev, bool press)
{
    zwp_virtual_keyboard_v1_key(m_keyboard, milliseconds(), evdev, press ? 1 : 0);
    m_connection.flush();
}

void VirtualKeyboard::modifiers(quint32 depressed, quint32 group)
{
    zwp_virtual_keyboard_v1_modifiers(m_keyboard, depressed, 0, 0, group);
    m_connection.flush();
}

bool VirtualKeyboard::postKeysym(quint32 keysym, quint64 flags)
{
    if (!isProcessTrusted())
        return false;
    const std::optional<KeyChoice> target = keyFor(keysym);
    if (!target)
        return false;
    struct Held {
        quint32 evdev;
        quint32 mask;
    };
    QList<Held> held;
    for (const ModifierKey &modifier : modifierKeys) {
        if (!(flags & modifier.flag))
            continue;
        const std::optional<KeyChoice> choice = keyFor(modifier.keysym);
        const xkb_mod_index_t index = xkb_keymap_mod_get_index(m_keymap, modifier.modifier);
        if (!choice || index == XKB_MOD_INVALID)
            return false;
        held.append({choice->keycode, 1u << index});
    }

    // From here to the end nothing waits, so every key pressed below is released below. The
    // modifier state is ours alone: the user's keyboard has its own.
    m_connection.noteKeystroke();
    quint32 depressed = 0;
    modifiers(depressed, target->layout);
    for (const Held &modifier : std::as_const(held)) {
        key(modifier.evdev, true);
        depressed |= modifier.mask;
        modifiers(depressed, target->layout);
    }
    key(target->keycode, true);
    key(target->keycode, false);
    for (auto it = held.crbegin(); it != held.crend(); ++it) {
        key(it->evdev, false);
        depressed &= ~it->mask;
        modifiers(depressed, target->layout);
    }
    modifiers(0, 0);
    return true;
}

QCoro::Task<> VirtualKeyboard::postKeystroke(quint16 keyCode, quint64 flags)
{
    const std::optional<quint8> xKeycode = X11::xKeycodeForMacKeyCode(keyCode);
    if (xKeycode && m_context)
        postKeysym(usSymbol(m_context, *xKeycode), flags);
    co_return;
}

bool VirtualKeyboard::isProcessTrusted() const
{
    return m_keyboard && m_keymap && m_connection.isConnected();
}

void VirtualKeyboard::openSystemSettings()
{
    if (!m_helpPage.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(m_helpPage));
}

} // namespace Platform::Wayland
