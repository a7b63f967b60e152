#pragma once

#include "platform/KeyEvent.h"

namespace Platform {

// Reads the key from Qt's key code with a US layout, for tests whose key events carry no native
// scan code (QTest::keyClick and friends); modifiers as the X11 layer maps them.
class FakeKeyEventTranslator final : public KeyEventTranslator {
public:
    std::optional<KeyEvent> keyEvent(const QKeyEvent &event) const override;

    // The macOS key code of the key that types Qt key `qtKey` on a US keyboard, or nothing.
    static std::optional<quint16> macKeyCodeForQtKey(int qtKey);
    // The same for a key of the numeric keypad.
    static std::optional<quint16> macKeyCodeForKeypadKey(int qtKey);
};

} // namespace Platform
