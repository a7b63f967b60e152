#pragma once

// Named shortcuts: their storage in the user's settings, the actions attached to them, event
// streams, and the switches (enabled, paused, menu open). All of it is process-wide state that
// belongs to the main thread.

#include "hotkeys/Name.h"
#include "hotkeys/Services.h"
#include "hotkeys/Shortcut.h"

#include <QCoroAsyncGenerator>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace Hotkeys {

enum class EventType { keyDown, keyUp };

using Action = std::function<void()>;

// Posted on the default notification centre with user info "name" (the Name's raw value) when
// the value stored for a name changes.
QString shortcutByNameDidChange();
// The settings key of a name: "Hotkeys_" followed by its raw value.
QString storageKey(const Name &name);

// The shortcut stored for `name`, read afresh: nothing when absent, when not text (the Boolean
// false marker included) or when the text is not a shortcut's JSON. Never changes what is stored.
std::optional<Shortcut> getShortcut(const Name &name);
// Stores `shortcut` for `name`; with nothing, clears it: a name with a default gets the Boolean
// false marker (so the default does not come back), a name without one loses its key.
void setShortcut(const std::optional<Shortcut> &shortcut, const Name &name);
// Stores `shortcut` as the name's JSON text, moving the system registration from the old
// shortcut to the new one, and posts the change notification.
void userDefaultsSet(const Name &name, const Shortcut &shortcut);

// Names with a default get it back; names without one lose a readable stored shortcut.
void reset(const QList<Name> &names);
template <typename... Names> void reset(const Name &first, const Names &...rest)
{
    reset(QList<Name> {first, rest...});
}
// reset over allNames().
void resetAll();
// A name (without default) for every settings key that begins with "Hotkeys_".
QSet<Name> allNames();

// Runs `action` whenever the name's stored shortcut is pressed (onKeyDown) or released
// (onKeyUp); registers that shortcut with the system.
void onKeyDown(const Name &name, Action action);
void onKeyUp(const Name &name, Action action);
// Drops the name's key-down and key-up actions; releases its shortcut unless a stream needs it.
void removeHandler(const Name &name);
// Drops every key-down and key-up action; streams stay.
void removeAllHandlers();

// The presses and releases of the name's shortcut, buffered without limit. The stream starts
// listening on a later turn of the event loop (presses before that are not in it); when the
// generator is destroyed it stops listening on a later turn, and the shortcut is released when
// nothing else needs it.
QCoro::AsyncGenerator<EventType> events(const Name &name);
// The same, keeping only events of `type`.
QCoro::AsyncGenerator<EventType> events(EventType type, const Name &name);

// Registers (enable) or releases (disable) the stored shortcuts of the names; actions stay.
void enable(const QList<Name> &names);
void disable(const QList<Name> &names);
template <typename... Names> void enable(const Name &first, const Names &...rest)
{
    enable(QList<Name> {first, rest...});
}
template <typename... Names> void disable(const Name &first, const Names &...rest)
{
    disable(QList<Name> {first, rest...});
}
// True while hot keys are enabled and the name's stored shortcut is registered.
bool isEnabled(const Name &name);
// Why the name's shortcut does nothing although it is registered: the status with which the
// system refused it or took it away (another program holds the key). Nothing when the system
// accepted it, or when it is not registered at all. SystemHotkeys::statusDidChange() and
// shortcutByNameDidChange() announce changes.
std::optional<int> refusal(const Name &name);
// True while pressing the name's shortcut reaches its actions: hot keys enabled, the shortcut
// registered, and not refused.
bool isActive(const Name &name);

// Sets up the menu-tracking observers, once per process. Every Name constructor calls it.
void initialize();

// Master switch of the system hot keys (true at start); changing it suspends or restores them.
bool isEnabled();
void setEnabled(bool enabled);
// While true, presses reach no action or stream; the recorder sets it while recording.
bool isPaused();
void setPaused(bool paused);
// True while a menu of the application is open (see MenuTracking.h).
bool isMenuOpen();

// Forgets every table, switch and registration (and those of SystemHotkeys), and cancels the
// bookkeeping still waiting for the event loop, so each unit test starts from a fresh process
// state. The services handed over (useServices) stay.
void resetForTesting();

} // namespace Hotkeys
