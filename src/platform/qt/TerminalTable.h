#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace Platform {

class UserDefaults;

// Which windows belong to terminal emulators, by the class part of their window class (X11
// WM_CLASS): the table built into the program (data/terminals.tsv) and the user's own lists in the
// settings. Classes compare without regard to case.
class TerminalTable {
public:
    // Settings key: a list of extra window classes that count as terminals.
    static QString terminalClassesKey() { return QStringLiteral("terminalClasses"); }
    // Settings key: a list of window classes that never count as terminals.
    static QString nonTerminalClassesKey() { return QStringLiteral("nonTerminalClasses"); }

    // The table built into the program.
    static const TerminalTable &builtIn();

    // A table from tab-separated text: the first column of each line is a window class; blank
    // lines and lines starting with '#' are skipped.
    static TerminalTable fromTsv(QStringView text);

    // The classes in the table, in the order they were listed, without duplicates.
    const QStringList &classes() const { return m_classes; }

    // Whether the table itself lists `windowClass`.
    bool contains(const QString &windowClass) const;

    // Whether windows of `windowClass` are to be treated as terminals, the user's lists in
    // `defaults` applied over the table. A class listed both as terminal and as non-terminal
    // counts as a terminal: that mode never sends a keystroke that could interrupt a program.
    // An empty class (an unknown window) is never a terminal.
    bool isTerminal(const QString &windowClass, const UserDefaults &defaults) const;

    // The class names stored under `key`: the text members of a list, trimmed, empty ones
    // dropped. Any other value (a single text, a number, a map) and any member that is not text
    // is ignored, so a damaged settings file never stops a run.
    static QStringList userClasses(const UserDefaults &defaults, const QString &key);

private:
    QStringList m_classes;
    QSet<QString> m_folded;
};

} // namespace Platform
