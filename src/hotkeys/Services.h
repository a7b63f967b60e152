#pragma once

namespace Platform {
class HotKeyService;
class KeyboardLayout;
class KeyEventTranslator;
class SystemShortcuts;
class UserDefaults;
} // namespace Platform

namespace Hotkeys {

// The platform services that the hot-key layer's process-wide state works with. None is owned;
// each must outlive its use. A missing one (nullptr) leaves its part of the layer inert, as said
// for each.
struct Services {
    // Where the shortcuts are stored. Without it nothing is stored and every name reads as empty.
    Platform::UserDefaults *userDefaults = nullptr;
    // The system-wide hot keys. Without it every registration is refused.
    Platform::HotKeyService *hotKeyService = nullptr;
    // The shortcuts the system already uses. Without it none counts as taken.
    Platform::SystemShortcuts *systemShortcuts = nullptr;
    // Reads the application's key events, while a menu is open and in the shortcut recorder.
    // Without it key presses in an open menu trigger nothing and the recorder reads no key.
    const Platform::KeyEventTranslator *keyEventTranslator = nullptr;
    // Names the ordinary keys with the characters of the user's layout. Without it they have no
    // character.
    const Platform::KeyboardLayout *keyboardLayout = nullptr;
};

// Hands the hot-key layer its services, replacing all of those handed over before (which must still
// exist: the old hot-key service is told to stop reporting). The composition root calls it at
// start, and with no services once every hot key is let go; tests call it for each test. Main
// thread only.
void useServices(const Services &services);

// The services handed over last; every member is nullptr before the first useServices().
const Services &services();

} // namespace Hotkeys
