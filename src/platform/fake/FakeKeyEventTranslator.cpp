#include "platform/fake/FakeKeyEventTranslator.h"

#include "platform/KeyEncodings.h"
#include "platform/qt/QtKeyEvent.h"

#include <QKeyEvent>

namespace Platform {

std::optional<quint16> FakeKeyEventTranslator::macKeyCodeForQtKey(int qtKey)
{
    static const struct {
        int qtKey;
        quint16 mac;
    } table[] = {
        {Qt::Key_A, MacKeyCode::a},
        {Qt::Key_S, MacKeyCode::s},
        {Qt::Key_D, MacKeyCode::d},
        {Qt::Key_F, MacKeyCode::f},
        {Qt::Key_H, MacKeyCode::h},
        {Qt::Key_G, MacKeyCode::g},
        {Qt::Key_Z, MacKeyCode::z},
        {Qt::Key_X, MacKeyCode::x},
        {Qt::Key_C, MacKeyCode::c},
        {Qt::Key_V, MacKeyCode::v},
        {Qt::Key_B, MacKeyCode::b},
        {Qt::Key_Q, MacKeyCode::q},
        {Qt::Key_W, MacKeyCode::w},
        {Qt::Key_E, MacKeyCode::e},
        {Qt::Key_R, MacKeyCode::r},
        {Qt::Key_Y, MacKeyCode::y},
        {Qt::Key_T, MacKeyCode::t},
        {Qt::Key_1, MacKeyCode::one},
        {Qt::Key_2, MacKeyCode::two},
        {Qt::Key_3, MacKeyCode::three},
        {Qt::Key_4, MacKeyCode::four},
        {Qt::Key_6, MacKeyCode::six},
        {Qt::Key_5, MacKeyCode::five},
        {Qt::Key_Equal, MacKeyCode::equal},
        {Qt::Key_9, MacKeyCode::nine},
        {Qt::Key_7, MacKeyCode::seven},
        {Qt::Key_Minus, MacKeyCode::minus},
        {Qt::Key_8, MacKeyCode::eight},
        {Qt::Key_0, MacKeyCode::zero},
        {Qt::Key_BracketRight, MacKeyCode::rightBracket},
        {Qt::Key_O, MacKeyCode::o},
        {Qt::Key_U, MacKeyCode::u},
        {Qt::Key_BracketLeft, MacKeyCode::leftBracket},
        {Qt::Key_I, MacKeyCode::i},
        {Qt::Key_P, MacKeyCode::p},
        {Qt::Key_Return, MacKeyCode::returnKey},
        {Qt::Key_L, MacKeyCode::l},
        {Qt::Key_J, MacKeyCode::j},
        {Qt::Key_Apostrophe, MacKeyCode::quote},
        {Qt::Key_K, MacKeyCode::k},
        {Qt::Key_Semicolon, MacKeyCode::semicolon},
        {Qt::Key_Backslash, MacKeyCode::backslash},
        {Qt::Key_Comma, MacKeyCode::comma},
        {Qt::Key_Slash, MacKeyCode::slash},
        {Qt::Key_N, MacKeyCode::n},
        {Qt::Key_M, MacKeyCode::m},
        {Qt::Key_Period, MacKeyCode::period},
        {Qt::Key_Tab, MacKeyCode::tab},
        {Qt::Key_Backtab, MacKeyCode::tab},
        {Qt::Key_Space, MacKeyCode::space},
        {Qt::Key_QuoteLeft, MacKeyCode::backtick},
        {Qt::Key_Backspace, MacKeyCode::deleteKey},
        {Qt::Key_Escape, MacKeyCode::escape},
        {Qt::Key_Control, MacKeyCode::command},
        {Qt::Key_Shift, MacKeyCode::shift},
        {Qt::Key_CapsLock, MacKeyCode::capsLock},
        {Qt::Key_Alt, MacKeyCode::option},
        {Qt::Key_Meta, MacKeyCode::control},
        {Qt::Key_F17, MacKeyCode::f17},
        {Qt::Key_VolumeUp, MacKeyCode::volumeUp},
        {Qt::Key_VolumeDown, MacKeyCode::volumeDown},
        {Qt::Key_VolumeMute, MacKeyCode::mute},
        {Qt::Key_Enter, MacKeyCode::keypadEnter},
        {Qt::Key_F18, MacKeyCode::f18},
        {Qt::Key_F19, MacKeyCode::f19},
        {Qt::Key_F20, MacKeyCode::f20},
        {Qt::Key_F5, MacKeyCode::f5},
        {Qt::Key_F6, MacKeyCode::f6},
        {Qt::Key_F7, MacKeyCode::f7},
        {Qt::Key_F3, MacKeyCode::f3},
        {Qt::Key_F8, MacKeyCode::f8},
        {Qt::Key_F9, MacKeyCode::f9},
        {Qt::Key_F11, MacKeyCode::f11},
        {Qt::Key_F13, MacKeyCode::f13},
        {Qt::Key_F16, MacKeyCode::f16},
        {Qt::Key_F14, MacKeyCode::f14},
        {Qt::Key_F10, MacKeyCode::f10},
        {Qt::Key_F12, MacKeyCode::f12},
        {Qt::Key_F15, MacKeyCode::f15},
        {Qt::Key_Help, MacKeyCode::help},
        {Qt::Key_Home, MacKeyCode::home},
        {Qt::Key_PageUp, MacKeyCode::pageUp},
        {Qt::Key_Delete, MacKeyCode::deleteForward},
        {Qt::Key_F4, MacKeyCode::f4},
        {Qt::Key_End, MacKeyCode::end},
        {Qt::Key_F2, MacKeyCode::f2},
        {Qt::Key_PageDown, MacKeyCode::pageDown},
        {Qt::Key_F1, MacKeyCode::f1},
        {Qt::Key_Left, MacKeyCode::leftArrow},
        {Qt::Key_Right, MacKeyCode::rightArrow},
        {Qt::Key_Down, MacKeyCode::downArrow},
        {Qt::Key_Up, MacKeyCode::upArrow},
    };
    for (const auto &entry : table) {
        if (entry.qtKey == qtKey)
            return entry.mac;
    }
    return std::nullopt;
}

std::optional<quint16> FakeKeyEventTranslator::macKeyCodeForKeypadKey(int qtKey)
{
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
        static const quint16 digits[] = {82, 83, 84, 85, 86, 87, 88, 89, 91, 92};
        return digits[qtKey - Qt::Key_0];
    }
    switch (qtKey) {
    case Qt::Key_Period:
        return 65;
    case Qt::Key_Asterisk:
        return 67;
    case Qt::Key_Plus:
        return 69;
    case Qt::Key_Clear:
        return 71;
    case Qt::Key_Slash:
        return 75;
    case Qt::Key_Enter:
        return 76;
    case Qt::Key_Minus:
        return 78;
    case Qt::Key_Equal:
        return 81;
    default:
        return std::nullopt;
    }
}

std::optional<KeyEvent> FakeKeyEventTranslator::keyEvent(const QKeyEvent &event) const
{
    if (event.type() != QEvent::KeyPress && event.type() != QEvent::KeyRelease)
        return std::nullopt;
    auto mac = (event.modifiers() & Qt::KeypadModifier) ? macKeyCodeForKeypadKey(event.key()) : std::nullopt;
    if (!mac)
        mac = macKeyCodeForQtKey(event.key());
    if (!mac)
        return std::nullopt;
    ToolkitKeyPress press;
    press.isPress = event.type() == QEvent::KeyPress;
    press.qtKey = event.key();
    press.modifiers = event.modifiers();
    press.isAutoRepeat = event.isAutoRepeat();
    return makeKeyEvent(press, *mac);
}

} // namespace Platform
