#pragma once

class QMenu;

namespace Hotkeys {

namespace Constants {
// True when the environment has APP_SANDBOX_CONTAINER_ID, whatever its value; read once, at the
// first call, and kept for the life of the process.
bool isSandboxed();
} // namespace Constants

// The application's main menu, against which new shortcuts are checked for conflicts. Linux has no
// menu bar owned by the application: the application registers the menu it offers (the tray
// icon's menu). Not owned; forgotten automatically when the menu is destroyed. Main thread.
void setMainMenu(QMenu *menu);
QMenu *mainMenu();

} // namespace Hotkeys
