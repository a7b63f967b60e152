#pragma once

#include "platform/UserDefaults.h"

#include <QVariantMap>

namespace Platform {

// Settings in a map, for tests.
class MemoryUserDefaults final : public UserDefaults {
    Q_OBJECT

public:
    using UserDefaults::UserDefaults;

    QVariant value(const QString &key) const override { return m_values.value(key); }
    void setValue(const QString &key, const QVariant &value) override
    {
        if (!value.isValid()) {
            remove(key);
            return;
        }
        m_values.insert(key, value);
        Q_EMIT valueChanged(key);
    }
    void remove(const QString &key) override
    {
        if (m_values.remove(key) > 0)
            Q_EMIT valueChanged(key);
    }

    QStringList keys() const override { return m_values.keys(); }

    const QVariantMap &values() const { return m_values; }

private:
    QVariantMap m_values;
};

} // namespace Platform
