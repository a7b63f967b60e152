#pragma once

#include "platform/KeyEvent.h"

namespace Platform::X11 {

// Reads key events delivered by Qt's xcb platform: the native scan code is the X keycode (mapped
// to the macOS key code by physical position) and the native modifiers are the X state, whose
// Lock bit tells Caps Lock. Control is Command, Meta (Super) is Control, Alt is Option.
class X11KeyEventTranslator final : public KeyEventTranslator {
public:
    std::optional<KeyEvent> keyEvent(const QKeyEvent &event) const override;
};

} // namespace Platform::X11
