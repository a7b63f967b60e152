#pragma once

#include "hotkeys/Name.h"
#include "hotkeys/Shortcut.h"

#include <optional>

class QAction;

namespace Hotkeys {

// Shows `shortcut` as the action's key sequence (in menus beside its text), or removes the key
// sequence when there is none. Leaves a binding made with setShortcutFor() in place: the next
// change of the bound name's shortcut overwrites what this applied.
void setShortcut(QAction *action, const std::optional<Shortcut> &shortcut);

// Binds the action to `name`: applies its stored shortcut now and again one event-loop turn after
// every change of it, reading the store at that time. A second binding replaces the first;
// nothing removes the key sequence and ends the binding. The binding ends with the action.
void setShortcutFor(QAction *action, const std::optional<Name> &name);

// Whether the action is bound to a name (for tests and diagnostics).
bool isBoundToName(const QAction *action);

} // namespace Hotkeys
