#pragma once

// Tells the shortcut subsystem when a menu of the application is open. On X11 an open Qt menu
// grabs the keyboard, so the passive hot-key grabs stop firing; while a menu is open the hot keys
// are suspended and key presses are matched against them inside the application instead.

#include <QString>

class QMenu;

namespace Hotkeys {

// Posted on the default notification centre when the first menu opens and when the last open
// menu closes (submenus and nested popups count as one tracking session).
QString menuDidBeginTrackingNotification();
QString menuDidEndTrackingNotification();

// Follows `menu`'s aboutToShow and aboutToHide. Marking the same menu twice is harmless.
void trackMenu(QMenu *menu);

// Follows every QMenu of the application as it is shown or hidden (an application event filter).
// Needs a QApplication; calling it again does nothing.
void trackAllMenus();

// The number of menus currently counted as open.
int openMenuCount();

} // namespace Hotkeys
