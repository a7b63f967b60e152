#pragma once

#include <QList>
#include <QObject>
#include <QString>

namespace Platform {

// A current problem that keeps part of Tarnwick from working, such as a shortcut that another
// program holds or keystrokes the desktop does not permit.
struct Notice {
    QString id; // stable key of the problem, such as "shortcut-refused/fixSelectedText"
    QString message; // what is wrong, one sentence for the user
    QString remedy; // what the user can do about it; may be empty

    bool operator==(const Notice &) const = default;
};

// The problems that hold right now, shown by the tray's status line while no run is busy and
// listed by the settings window. Whoever detects a problem sets it and clears it by its id when
// it is over. Main thread only.
class Notices : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Adds `notice`, or replaces in place the one with the same id; announces only a real change.
    void set(const Notice &notice);
    // Removes the notice with this id, if there is one, and announces that.
    void clear(const QString &id);
    // The current notices, in the order in which they were first set.
    const QList<Notice> &all() const { return m_notices; }

Q_SIGNALS:
    // Emitted synchronously after every change of all().
    void changed();

private:
    QList<Notice> m_notices;
};

} // namespace Platform
