#pragma once

#include "hotkeys/Key.h"
#include "hotkeys/ModifierFlags.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

class QAction;
class QKeySequence;
class QMenu;

namespace Platform {
struct KeyEvent;
} // namespace Platform

namespace Hotkeys {

// A key plus modifiers in the Carbon encoding: a macOS key code and Carbon modifier bits (Command
// 0x100, Shift 0x200, Option 0x800, Control 0x1000, Function 0x20000). Every constructor keeps
// only those five bits; only a decoded stored value may carry others, exactly as it was stored.
class Shortcut {
public:
    // Stores the key code unchanged and the modifiers reduced to the five modifier bits.
    Shortcut(qint64 carbonKeyCode, qint64 carbonModifiers);
    // The key's code with the Carbon bits of `modifiers` (the five modifiers only).
    explicit Shortcut(Key key, ModifierFlags modifiers = {});

    // The shortcut of a key-down or key-up event (nothing for any other type): its key code and
    // its modifiers without the Function flag, so a shortcut made from an event never has Fn.
    static std::optional<Shortcut> fromEvent(const Platform::KeyEvent &event);

    qint64 carbonKeyCode() const { return m_carbonKeyCode; }
    qint64 carbonModifiers() const { return m_carbonModifiers; }
    Key key() const { return Key(m_carbonKeyCode); }
    ModifierFlags modifiers() const { return ModifierFlags::fromCarbon(m_carbonModifiers); }

    // Text for people: the modifier glyphs (⌃⌥⇧⌘🌐︎, in that order) followed by the key's glyph,
    // "F1".."F20", the localised name of Space, or the character the key types on the keyboard
    // layout, capitalised ("⇧⌘K"); "�" for a key the layout cannot name.
    QString presentableDescription() const;
    QString description() const { return presentableDescription(); }

    // Text for people on Linux, as the desktops write shortcuts: "Ctrl+Shift+K", "Super+Alt+F1",
    // "Num+5" (Command as Ctrl, Option as Alt, Control as Super), with the names of Qt's
    // translations; "�" for a key the layout cannot name. Wherever a person reads a shortcut.
    QString nativeText() const;

    // The key part of a menu item's key equivalent: the special key's character, or the lower-case
    // character the key types ("k" for Command+K); nothing for keypad keys and unnamed keys.
    std::optional<QString> nsMenuItemKeyEquivalent() const;

    // The shortcut as a QKeySequence for an action or button (Command as Ctrl, Control as Meta,
    // Option as Alt); nothing for keypad keys, keys the layout cannot name, and shortcuts with
    // the Function modifier, which Qt cannot express.
    std::optional<QKeySequence> toKeySequence() const;

    // The first action in `menu` (depth first, submenus included) whose shortcut is this one, or
    // nullptr. Modifiers must match exactly; an item whose key equivalent is an upper-case
    // character counts as having Shift.
    QAction *menuItemWithMatchingShortcut(const QMenu *menu) const;

    // The persisted form: {"carbonKeyCode":…,"carbonModifiers":…}, compact, in that order.
    QJsonObject toJsonObject() const;
    QByteArray toJson() const;

    // Reads the persisted form, keeping both values as stored. Fails, with a reason in
    // `errorMessage` when given, on anything but an object with two integer members
    // "carbonKeyCode" and "carbonModifiers" (other members are ignored).
    static std::optional<Shortcut> fromJsonObject(const QJsonObject &object, QString *errorMessage = nullptr);
    static std::optional<Shortcut> fromJson(const QByteArray &json, QString *errorMessage = nullptr);

    friend bool operator==(const Shortcut &, const Shortcut &) = default;

private:
    std::optional<QString> keyToCharacter() const;

    struct AsStored { };
    Shortcut(AsStored, qint64 carbonKeyCode, qint64 carbonModifiers)
        : m_carbonKeyCode(carbonKeyCode)
        , m_carbonModifiers(carbonModifiers)
    {
    }

    qint64 m_carbonKeyCode;
    qint64 m_carbonModifiers;
};

// Key code first, then modifiers, so equal shortcuts hash equally in QSet/QHash.
inline size_t qHash(const Shortcut &shortcut, size_t seed = 0) noexcept
{
    return qHashMulti(seed, shortcut.carbonKeyCode(), shortcut.carbonModifiers());
}

} // namespace Hotkeys

template <> struct std::hash<Hotkeys::Shortcut> {
    size_t operator()(const Hotkeys::Shortcut &shortcut) const noexcept
    {
        return Hotkeys::qHash(shortcut, 0);
    }
};
