#pragma once

#include "hotkeys/Hotkeys.h"
#include "hotkeys/Name.h"

#include <functional>

class QAbstractButton;
class QAction;
class QWidget;

namespace Hotkeys {

// Calls `action` with every key down and key up of the name's global shortcut for as long as
// `view` is shown; hiding the view ends the subscription, showing it again starts a new one. The
// attachment ends with the view.
void onKeyboardShortcut(QWidget *view, const Name &name, std::function<void(EventType)> action);
// The same, for presses of one type only (`type`), calling `action` without arguments.
void onKeyboardShortcut(QWidget *view, const Name &name, EventType type, std::function<void()> action);

// Second names of the two above, with the same behaviour.
inline void onGlobalKeyboardShortcut(QWidget *view, const Name &name, std::function<void(EventType)> action)
{
    onKeyboardShortcut(view, name, std::move(action));
}
inline void onGlobalKeyboardShortcut(
    QWidget *view, const Name &name, EventType type, std::function<void()> action)
{
    onKeyboardShortcut(view, name, type, std::move(action));
}

// Gives the button (or action) the name's stored shortcut as its ordinary key sequence, follows
// changes of the stored shortcut, and withdraws it while a shortcut recorder records, so that
// recording never triggers the control. A second call replaces the first.
void globalKeyboardShortcut(QAbstractButton *button, const Name &name);
void globalKeyboardShortcut(QAction *action, const Name &name);

} // namespace Hotkeys
