#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace Hotkeys {

// The subsystem's translation tables: a directory "HotkeysResources.bundle" with one JSON object
// per language ("en.json", "de.json", "pt_BR.json", ...) mapping each text key to its text.
class ResourceBundle {
public:
    static constexpr auto name = "HotkeysResources";

    // The bundle of this program, located at the first call and kept for the life of the
    // process; stops the program with "unable to find bundle named HotkeysResources" when no
    // candidate directory holds it.
    static const ResourceBundle &module();

    // The directories searched, in order: the program's resource directory (<prefix>/share/
    // tarnwick beside <prefix>/bin), the resource directory beside the module holding this code,
    // and the program's own directory. Absent ones are left out.
    static QStringList defaultCandidates();

    // The bundle in the first candidate directory that holds one, or nothing.
    static std::optional<ResourceBundle> locate(const QStringList &candidateDirectories);

    // Reads the bundle at `path`; nothing when it is not a directory. Unreadable tables are left
    // out, so their texts fall back to the keys.
    static std::optional<ResourceBundle> open(const QString &path);

    QString path() const { return m_path; }
    // The languages with a table, for example "de" or "pt_BR".
    QStringList localizations() const { return m_tables.keys(); }

    // The text for `key` in the table of the first of `languages` (BCP 47 or POSIX names, most
    // preferred first) that has one, else in the English table; the key itself when that table
    // has no entry or there is no table at all.
    QString localizedString(const QString &key, const QStringList &languages) const;

private:
    const QHash<QString, QString> *tableFor(const QStringList &languages) const;

    QString m_path;
    QHash<QString, QHash<QString, QString>> m_tables;
};

// The text for `key` in the user's language (QLocale's UI languages), falling back to the key.
QString localizedString(const QString &key);

// The same text used as a format with one string argument: "%1" in it stands for `argument`.
QString localizedStringWithFormat(const QString &key, const QString &argument);

} // namespace Hotkeys
