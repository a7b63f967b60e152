#pragma once

#include "platform/KeyboardLayout.h"
#include "platform/x11/XkbKeymap.h"

#include <QString>

#include <array>
#include <memory>

namespace Platform::X11 {

// The X server's keyboard layout read through xkbcommon: what each key types without modifiers
// on the first layout (group) of the keymap that types Latin letters. The table is made again
// only after the keymap changed, so lookups are table reads.
class XkbKeyboardLayout final : public KeyboardLayout {
public:
    // Uses Qt's own connection; nothing when the application does not run on xcb or the server
    // lacks the XKB extension.
    static std::unique_ptr<XkbKeyboardLayout> create();
    ~XkbKeyboardLayout() override;

    QString unshiftedCharacters(quint16 keyCode) const override;

    // The index of the layout (group) that answers, as last read; -1 before a keymap was read.
    int latinLayoutIndex() const;
    // How many times the keymap was read.
    int keymapLoads() const { return m_keymap->loads(); }

private:
    explicit XkbKeyboardLayout(std::unique_ptr<XkbKeymap> keymap);

    void reloadIfNeeded() const;

    std::unique_ptr<XkbKeymap> m_keymap;
    mutable int m_tableLoad = 0; // the keymap load the table was made from
    mutable int m_layoutIndex = -1;
    // Indexed by macOS key code; codes above 127 have no X key.
    mutable std::array<QString, 128> m_characters;
};

} // namespace Platform::X11
