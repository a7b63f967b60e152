#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace Platform {

// Shortcuts that the desktop itself keeps, each running a command of ours (`tarnwick --trigger
// fix`): the way in where no service tells a program about global key presses. Main thread only.
class CommandShortcuts {
public:
    struct Binding {
        QString id; // unique among ours and stable across versions ("fix")
        QString name; // shown in the desktop's own settings
        QString command; // the command line the desktop runs
        qint64 carbonKeyCode = 0;
        qint64 carbonModifiers = 0;
    };

    virtual ~CommandShortcuts() = default;

    // Where the user sees and edits them, for the settings window's explanation.
    virtual QString place() const = 0;

    // Adds `bindings`, replacing ours of the same id and leaving every other shortcut alone.
    // Answers an empty text on success, otherwise what went wrong (and nothing is added).
    virtual QString add(const QList<Binding> &bindings) = 0;

    // Removes every binding of ours; answers as add().
    virtual QString remove() = 0;

    // The ids of ours that are there now.
    virtual QStringList addedIds() const = 0;
};

} // namespace Platform
