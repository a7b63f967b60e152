#pragma once

#include "platform/KeyEncodings.h"
#include "platform/SystemShortcuts.h"

#include <QList>

namespace Platform {

// A list of reserved shortcuts that tests fill; disabled entries are kept but not reserved.
class FakeSystemShortcuts final : public SystemShortcuts {
public:
    struct Entry {
        qint64 carbonKeyCode = 0;
        qint64 carbonModifiers = 0;
        bool enabled = true;
    };

    bool isReserved(qint64 carbonKeyCode, qint64 carbonModifiers) override
    {
        ++m_queries;
        // Only the five modifier bits count, as for the system's own list.
        for (const Entry &entry : m_entries) {
            if (entry.enabled && entry.carbonKeyCode == carbonKeyCode
                && (entry.carbonModifiers & CarbonModifier::all) == carbonModifiers)
                return true;
        }
        return false;
    }

    void add(qint64 carbonKeyCode, qint64 carbonModifiers, bool enabled = true)
    {
        m_entries.append({carbonKeyCode, carbonModifiers, enabled});
    }
    void clear() { m_entries.clear(); }
    const QList<Entry> &entries() const { return m_entries; }
    int queries() const { return m_queries; }

private:
    QList<Entry> m_entries;
    int m_queries = 0;
};

} // namespace Platform
