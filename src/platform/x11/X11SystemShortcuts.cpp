#include "platform/x11/X11SystemShortcuts.h"

#include "platform/x11/X11HotKeyService.h"

namespace Platform::X11 {

bool X11SystemShortcuts::isReserved(qint64 carbonKeyCode, qint64 carbonModifiers)
{
    return m_hotKeys.isTakenByAnotherClient(carbonKeyCode, carbonModifiers).value_or(false);
}

} // namespace Platform::X11
