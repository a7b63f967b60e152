#include "platform/x11/X11KeyEventTranslator.h"

#include "platform/qt/QtKeyEvent.h"
#include "platform/x11/KeyCodeMap.h"

#include <QKeyEvent>

#include <xcb/xproto.h>

namespace Platform::X11 {

std::optional<KeyEvent> X11KeyEventTranslator::keyEvent(const QKeyEvent &event) const
{
    if (event.type() != QEvent::KeyPress && event.type() != QEvent::KeyRelease)
        return std::nullopt;
    const auto mac = macKeyCodeForXKeycode(event.nativeScanCode());
    if (!mac)
        return std::nullopt;
    ToolkitKeyPress press;
    press.isPress = event.type() == QEvent::KeyPress;
    press.qtKey = event.key();
    press.modifiers = event.modifiers();
    press.isAutoRepeat = event.isAutoRepeat();
    press.capsLockOn = (event.nativeModifiers() & XCB_MOD_MASK_LOCK) != 0;
    return makeKeyEvent(press, quint16(*mac));
}

} // namespace Platform::X11
