#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace Platform {

// The user's settings database: typed values (Boolean, text, number) by key. Main thread only.
class UserDefaults : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The value stored under `key`, with the type it was stored with; invalid when absent.
    virtual QVariant value(const QString &key) const = 0;

    // Stores `value` under `key` and emits valueChanged; an invalid QVariant removes the key.
    virtual void setValue(const QString &key, const QVariant &value) = 0;

    // Removes `key` (emits valueChanged when it was there).
    virtual void remove(const QString &key) = 0;

    // Every key that holds a value, in no particular order.
    virtual QStringList keys() const = 0;

    // The Boolean under `key`: a Boolean as stored, a number other than zero, or the text
    // "true"/"yes"/"1" in any case count as true; anything else, an absent key included, false.
    bool boolValue(const QString &key) const;

Q_SIGNALS:
    void valueChanged(const QString &key);
};

} // namespace Platform
