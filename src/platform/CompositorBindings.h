#pragma once

#include "platform/CommandShortcuts.h"

#include <QList>
#include <QString>

namespace Platform {

class KeyboardLayout;

// The wlroots compositors whose own configuration binds our shortcuts where no program may, each
// with its own syntax. One that could not be told apart takes sway's syntax, which i3 shares.
enum class Compositor { Unknown, Sway, Hyprland, River, Labwc, Wayfire };

// The ones a user can pick, in the order the settings window lists them.
inline constexpr Compositor configurableCompositors[]
    = {Compositor::Sway, Compositor::Hyprland, Compositor::River, Compositor::Labwc, Compositor::Wayfire};

// `text` as one word for a POSIX shell: as it is when it holds only characters a shell leaves
// alone, otherwise single-quoted.
QString shellWord(QString text);

// The compositor's name as the settings window and --diagnose show it ("Hyprland").
QString compositorName(Compositor compositor);

// Where the lines go, for the user: the configuration file and the place in it.
QString compositorConfigurationPlace(Compositor compositor);

// The configuration text that binds each of `bindings` (a shortcut recorded here and the command
// line to run, quoted for a shell) in the syntax of `compositor`, one after another, on the key's
// release where the syntax has that. A shortcut that has no counterpart there (the Function
// modifier, a key without a name) gets a comment saying so instead. Keys named by their symbol
// are named as `layout` types them; null when the layout is unknown, which leaves such keys
// unnamed. Pure.
QString compositorBindingLines(
    Compositor compositor, const QList<CommandShortcuts::Binding> &bindings, const KeyboardLayout *layout);

} // namespace Platform
