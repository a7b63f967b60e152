#include "platform/x11/XkbKeyboardLayout.h"

#include "platform/x11/KeyCodeMap.h"

#include <xkbcommon/xkbcommon.h>

namespace Platform::X11 {

namespace {

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
    std::unique_ptr<XkbKeymap> keymap = XkbKeymap::create();
    if (!keymap)
        return nullptr;
    return std::unique_ptr<XkbKeyboardLayout>(new XkbKeyboardLayout(std::move(keymap)));
}

XkbKeyboardLayout::XkbKeyboardLayout(std::unique_ptr<XkbKeymap> keymap)
    : m_keymap(std::move(keymap))
{
}

XkbKeyboardLayout::~XkbKeyboardLayout() = default;

void XkbKeyboardLayout::reloadIfNeeded() const
{
    xkb_keymap *keymap = m_keymap->keymap();
    if (m_tableLoad == m_keymap->loads())
        return;
    m_tableLoad = m_keymap->loads();
    m_characters.fill(QString());
    m_layoutIndex = -1;
    if (!keymap)
        return;

    // Without any Latin layout the first one still names the keys better than nothing.
    const xkb_layout_index_t layouts = xkb_keymap_num_layouts(keymap);
    xkb_layout_index_t chosen = 0;
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        if (typesLatinLetters(keymap, layout)) {
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
        const xkb_layout_index_t keyLayouts = xkb_keymap_num_layouts_for_key(keymap, *keycode);
        if (keyLayouts == 0)
            continue;
        m_characters[mac] = textOfKey(keymap, *keycode, chosen % keyLayouts);
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
