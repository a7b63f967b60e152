#pragma once

#include "hotkeys/Shortcut.h"

namespace Platform {
class SystemShortcuts;
}

namespace Hotkeys {

// The system-wide hot keys of the process and the system's own reserved shortcuts.
class SystemHotkeys {
public:
    SystemHotkeys() = delete;

    // Installs the process-wide source of reserved shortcuts (not owned; it must outlive its use,
    // nullptr removes it). Set once by the composition root; tests swap in a fake.
    static void setSystemShortcuts(Platform::SystemShortcuts *systemShortcuts);
    static Platform::SystemShortcuts *systemShortcuts();

    // Whether the system (on X11: another client holding the key grab) already uses `shortcut`,
    // asked anew on every call; false when no source is installed. Stands for membership in the
    // system's list of enabled symbolic hot keys, which X11 cannot enumerate.
    static bool isSystemShortcut(const Shortcut &shortcut);
};

} // namespace Hotkeys
