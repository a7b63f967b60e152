#include "hotkeys/SystemHotkeys.h"

#include "platform/SystemShortcuts.h"

namespace Hotkeys {

bool SystemHotkeys::isSystemShortcut(const Shortcut &shortcut)
{
    Platform::SystemShortcuts *systemShortcuts = services().systemShortcuts;
    if (!systemShortcuts)
        return false;
    // The system's entries carry only the five modifier bits; a stored value with other bits
    // can never be one of them.
    if (shortcut.carbonModifiers() != ModifierFlags::fromCarbon(shortcut.carbonModifiers()).carbon())
        return false;
    return systemShortcuts->isReserved(shortcut.carbonKeyCode(), shortcut.carbonModifiers());
}

} // namespace Hotkeys
