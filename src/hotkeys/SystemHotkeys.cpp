#include "hotkeys/SystemHotkeys.h"

#include "platform/SystemShortcuts.h"

namespace Hotkeys {

namespace {
Platform::SystemShortcuts *g_systemShortcuts = nullptr;
}

void SystemHotkeys::setSystemShortcuts(Platform::SystemShortcuts *systemShortcuts)
{
    g_systemShortcuts = systemShortcuts;
}

Platform::SystemShortcuts *SystemHotkeys::systemShortcuts()
{
    return g_systemShortcuts;
}

bool SystemHotkeys::isSystemShortcut(const Shortcut &shortcut)
{
    if (!g_systemShortcuts)
        return false;
    // The system's entries carry only the five modifier bits; a stored value with other bits
    // can never be one of them.
    if (shortcut.carbonModifiers() != ModifierFlags::fromCarbon(shortcut.carbonModifiers()).carbon())
        return false;
    return g_systemShortcuts->isReserved(shortcut.carbonKeyCode(), shortcut.carbonModifiers());
}

} // namespace Hotkeys
