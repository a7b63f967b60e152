#pragma once

#include <QString>
#include <QtGlobal>

namespace Platform {

// The user's keyboard layout, asked for the characters that physical keys type.
class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;

    // The text (at most a few UTF-16 units) that the key at macOS key code `keyCode` types with no
    // modifier held, on the first layout that types Latin letters; empty when the key types
    // nothing or the layout cannot be read. Cheap enough to call on every repaint; main thread.
    virtual QString unshiftedCharacters(quint16 keyCode) const = 0;
};

} // namespace Platform
