#include "app/GlobalShortcut.h"

#include "hotkeys/Key.h"
#include "hotkeys/ModifierFlags.h"
#include "hotkeys/Shortcut.h"

namespace Hotkeys {

const Name &fixSelectedText()
{
    static const Name name(
        QStringLiteral("fixSelectedText"), Shortcut(Key::e, ModifierFlags::command | ModifierFlags::shift));
    return name;
}

const Name &formalizeSelectedText()
{
    static const Name name(QStringLiteral("formalizeSelectedText"),
        Shortcut(Key::e, ModifierFlags::command | ModifierFlags::option));
    return name;
}

} // namespace Hotkeys
