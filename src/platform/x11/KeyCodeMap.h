#pragma once

#include <QtGlobal>

#include <optional>

namespace Platform::X11 {

// macOS virtual key codes (physical ANSI positions) to X keycodes and back, by physical key.
// An X keycode is the Linux evdev code plus 8. The modifier keys follow the modifier mapping:
// Command is the Control key, Control the Super key, Option the Alt key.

// The X keycode of the key at `macKeyCode`'s position, or nothing (Fn, codes without a key).
std::optional<quint8> xKeycodeForMacKeyCode(qint64 macKeyCode);

// The macOS virtual key code of the key with X keycode `xKeycode`, or nothing.
std::optional<qint64> macKeyCodeForXKeycode(quint32 xKeycode);

// The X key symbol of the key at `macKeyCode`'s position on the US layout, for synthetic
// keystrokes, which go by symbol: a letter, an editing or function key, or a modifier (Command is
// Control_L, Control is Super_L, Option is Alt_L). Nothing for digits and punctuation, which
// other layouts put on shifted levels, and for codes without a key.
std::optional<quint32> keysymForMacKeyCode(qint64 macKeyCode);

} // namespace Platform::X11
