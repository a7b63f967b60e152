#pragma once

#include "hotkeys/Name.h"

#include <QString>

// The two global shortcuts of the correction pipeline. Each name is a process-wide constant made
// on its first use, which stores its default shortcut when nothing at all is stored for it yet:
// so the settings store must be handed over (Hotkeys::useServices) before the first use.
namespace Hotkeys {

// "fixSelectedText": Command+Shift+E by default (Ctrl+Shift+E on a PC keyboard); runs `fix`.
const Name &fixSelectedText();

// "formalizeSelectedText": Command+Option+E by default (Ctrl+Alt+E); runs `formal`.
const Name &formalizeSelectedText();

// What the settings window calls the two shortcuts.
inline QString fixSelectedTextTitle()
{
    return QStringLiteral("Fix text");
}
inline QString formalizeSelectedTextTitle()
{
    return QStringLiteral("Make formal");
}

} // namespace Hotkeys
