#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace Platform::Portal {

// Keys named by their symbols, for the desktop services that take symbols rather than key codes
// (the portals' triggers and keystrokes, GNOME's keybindings). A macOS virtual key code names a
// physical position; a shortcut's key is named by the symbol the US layout gives that position
// unshifted, as the shortcut recorder shows it. Modifiers map as everywhere else here: Command is the Control
// key, Control the Super key, Option Alt.

// A keysym's name as xkbcommon spells it ("e", "Insert", "F5"); empty for an unknown keysym.
QString keysymName(quint32 keysym);

// The keysyms of the left-hand modifier keys that AppKit `flags` hold, in pressing order.
QList<quint32> modifierKeysyms(quint64 flags);

// A shortcut as the portals' "shortcuts" notation writes it ("CTRL+SHIFT+e"), or nothing when
// the key has no symbol or a modifier (Function) has no counterpart.
std::optional<QString> portalTrigger(qint64 carbonKeyCode, qint64 carbonModifiers);

// A shortcut as GNOME's keybinding settings write it ("<Control><Shift>e"), or nothing as above.
std::optional<QString> gtkAccelerator(qint64 carbonKeyCode, qint64 carbonModifiers);

} // namespace Platform::Portal
