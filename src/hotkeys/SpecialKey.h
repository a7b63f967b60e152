#pragma once

#include "hotkeys/Key.h"

#include <QString>
#include <qnamespace.h>

#include <optional>

namespace Hotkeys {

// Keys that type no ordinary character (Return, arrows, function keys, keypad keys), with the
// glyphs and key equivalents that stand for them. Internal to the Hotkeys subsystem.
enum class SpecialKey {
    returnKey,
    deleteKey,
    deleteForward,
    end,
    escape,
    help,
    home,
    space,
    tab,
    pageUp,
    pageDown,
    upArrow,
    rightArrow,
    downArrow,
    leftArrow,
    f1,
    f2,
    f3,
    f4,
    f5,
    f6,
    f7,
    f8,
    f9,
    f10,
    f11,
    f12,
    f13,
    f14,
    f15,
    f16,
    f17,
    f18,
    f19,
    f20,
    keypad0,
    keypad1,
    keypad2,
    keypad3,
    keypad4,
    keypad5,
    keypad6,
    keypad7,
    keypad8,
    keypad9,
    keypadClear,
    keypadDecimal,
    keypadDivide,
    keypadEnter,
    keypadEquals,
    keypadMinus,
    keypadMultiply,
    keypadPlus,
};

inline constexpr int specialKeyCount = 53;

// The special key at `key`, or nothing for keys that type ordinary characters.
std::optional<SpecialKey> specialKeyFor(Key key);

// The key the special key sits on.
Key keyOf(SpecialKey specialKey);

// The text shown for the key in a shortcut's description; for Space the localised "space_key",
// not yet capitalised.
QString presentableDescription(SpecialKey specialKey);

// The character a menu item uses as its key equivalent; nothing for keypad keys.
std::optional<QString> appKitMenuItemKeyEquivalent(SpecialKey specialKey);

// The key of a QKeySequence for the special key (what the declarative UI's key equivalent was);
// nothing for keypad keys.
std::optional<Qt::Key> keySequenceKey(SpecialKey specialKey);

} // namespace Hotkeys
