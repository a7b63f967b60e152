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

} // namespace Platform::X11
