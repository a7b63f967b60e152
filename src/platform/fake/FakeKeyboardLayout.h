#pragma once

#include "platform/KeyboardLayout.h"

#include <QHash>

namespace Platform {

// The US layout as a table of unshifted characters by macOS key code; tests may change entries.
class FakeKeyboardLayout final : public KeyboardLayout {
public:
    FakeKeyboardLayout();

    QString unshiftedCharacters(quint16 keyCode) const override
    {
        ++m_lookups;
        return m_characters.value(keyCode);
    }

    // Makes `keyCode` type `text` (empty: nothing).
    void setCharacters(quint16 keyCode, const QString &text) { m_characters.insert(keyCode, text); }
    int lookups() const { return m_lookups; }

private:
    QHash<quint16, QString> m_characters;
    mutable int m_lookups = 0;
};

} // namespace Platform
