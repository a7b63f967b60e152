#pragma once

#include <QString>

// "Start at login": a desktop entry in the user's autostart directory, which the desktop session
// reads when it begins. The file itself is the state: a user may remove or edit it by hand.
class Autostart {
public:
    // `directory` is the autostart directory; `program` the absolute path of the program to start.
    Autostart(QString directory, QString program);

    // $XDG_CONFIG_HOME/autostart (usually ~/.config/autostart).
    static QString defaultDirectory();

    QString filePath() const;

    // Whether the session will start Tarnwick: the file is a desktop entry that is neither hidden
    // nor disabled. A missing or unreadable file, or one that is no desktop entry, reads as off.
    bool isEnabled() const;

    // Writes the entry (on) or removes the file (off); returns an empty text on success, or what
    // went wrong, in which case the file is left as it was.
    QString setEnabled(bool on) const;

private:
    QString m_directory;
    QString m_program;
};
