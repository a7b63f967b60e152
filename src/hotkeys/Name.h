#pragma once

#include "hotkeys/Shortcut.h"

#include <QHashFunctions>
#include <QString>

#include <optional>

namespace Hotkeys {

// A named, persisted shortcut slot. The user's choice is stored under "Hotkeys_" + rawValue.
// Equality and hashing use the raw value only.
class Name {
public:
    // A name with an optional default. When a default is given and nothing at all is stored under
    // the name yet, the default is stored (registered with the system, change notification
    // posted). Anything stored, the Boolean false marker included, keeps the default out.
    // Initialises the namespace (initialize()) either way.
    explicit Name(const QString &rawValue, std::optional<Shortcut> defaultShortcut = std::nullopt);

    const QString &rawValue() const { return m_rawValue; }
    const std::optional<Shortcut> &defaultShortcut() const { return m_defaultShortcut; }
    // The settings key: "Hotkeys_" followed by the raw value.
    const QString &storageKey() const { return m_storageKey; }

    // The stored shortcut (getShortcut) and storing one, or nothing to clear it (setShortcut).
    std::optional<Shortcut> shortcut() const;
    void setShortcut(const std::optional<Shortcut> &shortcut) const;

    friend bool operator==(const Name &a, const Name &b) { return a.m_rawValue == b.m_rawValue; }

private:
    QString m_rawValue;
    QString m_storageKey;
    std::optional<Shortcut> m_defaultShortcut;
};

inline size_t qHash(const Name &name, size_t seed = 0) noexcept
{
    return qHash(name.rawValue(), seed);
}

} // namespace Hotkeys
