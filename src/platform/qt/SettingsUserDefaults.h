#pragma once

#include "platform/UserDefaults.h"

#include <QHash>
#include <QSettings>

#include <memory>

namespace Platform {

// The user's settings in a JSON file, by default $XDG_CONFIG_HOME/tarnwick/settings.json.
//
// JSON keeps Boolean, text and number apart (the INI format turns them all into text), and QSettings
// writes the file atomically (a temporary file renamed over the old one) under a lock file, so
// other processes never see half a file. A file that is not a JSON object is moved aside on
// reading, never overwritten, and the settings start empty; that is said once on stderr.
class SettingsUserDefaults final : public UserDefaults {
    Q_OBJECT

public:
    // The settings file in the user's configuration directory (QStandardPaths'
    // GenericConfigLocation, so tests can redirect it with setTestModeEnabled).
    explicit SettingsUserDefaults(QObject *parent = nullptr);
    // The settings file at `filePath`; its directory is created when missing.
    explicit SettingsUserDefaults(const QString &filePath, QObject *parent = nullptr);
    ~SettingsUserDefaults() override;

    // Where the settings live by default.
    static QString defaultFilePath();

    QVariant value(const QString &key) const override;
    // Writes the file at once, so nothing is lost if the process ends abruptly.
    void setValue(const QString &key, const QVariant &value) override;
    void remove(const QString &key) override;
    QStringList keys() const override;

    QString filePath() const;
    // Where an unreadable settings file found at this path was moved, or empty when none was.
    QString movedAsidePath() const;
    // The state of the last write: QSettings::AccessError when the file could not be written.
    QSettings::Status status() const;

private:
    void reloadValues();
    // Refreshes every instance on this file and announces the change of `key`.
    void written(const QString &key);

    std::unique_ptr<QSettings> m_settings;
    // What QSettings holds, as of its last read or write of the file: dispatch reads the settings
    // on every key press, and QSettings' own lookup (lock, key normalisation) is the slow part.
    QHash<QString, QVariant> m_values;
};

} // namespace Platform
