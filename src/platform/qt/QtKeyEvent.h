#pragma once

#include "platform/KeyEvent.h"

#include <qnamespace.h>

namespace Platform {

// The AppKit special-key character for a Qt key code (Qt::Key), or nothing for ordinary keys.
std::optional<char32_t> specialKeyForQtKey(int qtKey);

// AppKit modifier flags for Qt's keyboard modifiers, mapped as Qt maps them on macOS: Control is
// Command, Meta is Control, Alt is Option; the keypad modifier is the numeric-pad flag.
quint64 appKitModifierFlags(Qt::KeyboardModifiers modifiers);

// What the toolkit tells about one key press or release.
struct ToolkitKeyPress {
    bool isPress = true;
    int qtKey = 0;
    Qt::KeyboardModifiers modifiers;
    bool isAutoRepeat = false;
    bool capsLockOn = false;
};

// The KeyEvent for a key press or release of the key at `macKeyCode`. A modifier key alone gives
// a flagsChanged event whose flags already include (press) or exclude (release) that modifier, as
// AppKit reports it.
KeyEvent makeKeyEvent(const ToolkitKeyPress &press, quint16 macKeyCode);

} // namespace Platform
