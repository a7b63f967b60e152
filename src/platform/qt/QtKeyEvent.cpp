#include "platform/qt/QtKeyEvent.h"

#include "platform/KeyEncodings.h"

#include <Qt>

namespace Platform {

std::optional<char32_t> specialKeyForQtKey(int qtKey)
{
    namespace S = SpecialKeyCharacter;
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return char32_t(S::f1 + (qtKey - Qt::Key_F1));
    switch (qtKey) {
    case Qt::Key_Enter:
        return S::enter;
    case Qt::Key_Return:
        return S::carriageReturn;
    case Qt::Key_Tab:
        return S::tab;
    case Qt::Key_Backtab:
        return S::backTab;
    // The key above Return that erases backwards is AppKit's "delete".
    case Qt::Key_Backspace:
        return S::delete_;
    case Qt::Key_Delete:
        return S::deleteForward;
    case Qt::Key_Insert:
        return S::insert;
    case Qt::Key_Up:
        return S::upArrow;
    case Qt::Key_Down:
        return S::downArrow;
    case Qt::Key_Left:
        return S::leftArrow;
    case Qt::Key_Right:
        return S::rightArrow;
    case Qt::Key_Home:
        return S::home;
    case Qt::Key_End:
        return S::end;
    case Qt::Key_PageUp:
        return S::pageUp;
    case Qt::Key_PageDown:
        return S::pageDown;
    case Qt::Key_Help:
        return S::help;
    default:
        return std::nullopt;
    }
}

namespace {

// The flag a modifier key toggles, 0 for other keys; Caps Lock reports through capsLockOn.
quint64 flagOfModifierKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Shift:
        return AppKitModifier::shift;
    case Qt::Key_Control:
        return AppKitModifier::command;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return AppKitModifier::control;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return AppKitModifier::option;
    default:
        return 0;
    }
}

bool isModifierKey(int qtKey)
{
    return flagOfModifierKey(qtKey) != 0 || qtKey == Qt::Key_CapsLock || qtKey == Qt::Key_Hyper_L
        || qtKey == Qt::Key_Hyper_R || qtKey == Qt::Key_NumLock;
}
} // namespace

quint64 appKitModifierFlags(Qt::KeyboardModifiers modifiers)
{
    quint64 flags = 0;
    if (modifiers & Qt::ShiftModifier)
        flags |= AppKitModifier::shift;
    if (modifiers & Qt::ControlModifier)
        flags |= AppKitModifier::command;
    if (modifiers & Qt::MetaModifier)
        flags |= AppKitModifier::control;
    if (modifiers & Qt::AltModifier)
        flags |= AppKitModifier::option;
    if (modifiers & Qt::KeypadModifier)
        flags |= AppKitModifier::numericPad;
    return flags;
}

KeyEvent makeKeyEvent(const ToolkitKeyPress &press, quint16 macKeyCode)
{
    KeyEvent event;
    event.keyCode = macKeyCode;
    event.modifierFlags = appKitModifierFlags(press.modifiers);
    if (press.capsLockOn)
        event.modifierFlags |= AppKitModifier::capsLock;
    if (isModifierKey(press.qtKey)) {
        event.type = KeyEventType::flagsChanged;
        // X11 reports the modifier state from before the event; AppKit reports the state after.
        const quint64 flag = flagOfModifierKey(press.qtKey);
        if (press.isPress)
            event.modifierFlags |= flag;
        else
            event.modifierFlags &= ~flag;
        return event;
    }
    event.type = press.isPress ? KeyEventType::keyDown : KeyEventType::keyUp;
    event.isARepeat = press.isAutoRepeat;
    event.specialKey = specialKeyForQtKey(press.qtKey);
    return event;
}

} // namespace Platform
