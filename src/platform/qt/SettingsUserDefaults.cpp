#include "platform/qt/SettingsUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QMutex>
#include <QStandardPaths>
#include <QTextStream>

namespace Platform {

namespace {

// Where unreadable files were moved, by their original path. The read callback has no context
// pointer, and QSettings may read the same file on behalf of several instances.
struct MovedAside {
    QMutex mutex;
    QHash<QString, QString> targets;
    QSet<QString> reportedUnmovable;
};

MovedAside &movedAside()
{
    static MovedAside state;
    return state;
}

void warn(const QString &text)
{
    QTextStream(stderr) << "tarnwick: " << text << Qt::endl;
}

// Renames `path` to the first free "<path>.corrupt", "<path>.corrupt.1", ...; never replaces an
// earlier moved file. Answers the new path, or empty when the file could not be moved.
QString moveAside(const QString &path)
{
    for (int n = 0; n < 10000; ++n) {
        const QString candidate = n == 0 ? path + QLatin1String(".corrupt")
                                         : path + QLatin1String(".corrupt.") + QString::number(n);
        if (QFileInfo::exists(candidate))
            continue;
        // QFile::rename refuses to replace an existing file, so a file that appeared meanwhile
        // is kept; then the next suffix is tried.
        if (QFile::rename(path, candidate))
            return candidate;
        if (!QFileInfo::exists(candidate))
            return {};
    }
    return {};
}

bool readJson(QIODevice &device, QSettings::SettingsMap &map)
{
    const QByteArray bytes = device.readAll();
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError && document.isObject()) {
        map = document.object().toVariantMap();
        return true;
    }

    const QString reason = error.error != QJsonParseError::NoError
        ? QStringLiteral("not valid JSON: %1 at offset %2").arg(error.errorString()).arg(error.offset)
        : QStringLiteral("not a JSON object");
    auto *file = qobject_cast<QFile *>(&device);
    const QString path = file ? file->fileName() : QString();
    const QString target = path.isEmpty() ? QString() : moveAside(path);

    auto &state = movedAside();
    QMutexLocker locker(&state.mutex);
    if (!target.isEmpty()) {
        // The file is gone from its place, so this is said once per unreadable file.
        state.targets.insert(path, target);
        warn(QStringLiteral("the settings file %1 is %2; it was moved to %3 and the settings start empty.")
                 .arg(path, reason, target));
        return true;
    }
    // Not movable: answering failure leaves QSettings in FormatError. Writing needs the same
    // directory permissions as the rename did, so the file is not overwritten either.
    if (!state.reportedUnmovable.contains(path)) {
        state.reportedUnmovable.insert(path);
        warn(QStringLiteral("the settings file %1 is %2 and could not be moved aside; the settings start "
                            "empty and changes may not be saved.")
                 .arg(path, reason));
    }
    return false;
}

bool writeJson(QIODevice &device, const QSettings::SettingsMap &map)
{
    const QByteArray bytes = QJsonDocument(QJsonObject::fromVariantMap(map)).toJson(QJsonDocument::Indented);
    return device.write(bytes) == bytes.size();
}

// Instances by file, so a write through one refreshes the others (QSettings shares one parsed
// file per process, our mirrors do not).
QMultiHash<QString, SettingsUserDefaults *> &instances()
{
    static QMultiHash<QString, SettingsUserDefaults *> all;
    return all;
}

QSettings::Format jsonFormat()
{
    static const QSettings::Format format
        = QSettings::registerFormat(QStringLiteral("json"), readJson, writeJson);
    return format;
}

} // namespace

SettingsUserDefaults::SettingsUserDefaults(QObject *parent)
    : SettingsUserDefaults(defaultFilePath(), parent)
{
}

SettingsUserDefaults::SettingsUserDefaults(const QString &filePath, QObject *parent)
    : UserDefaults(parent)
{
    QDir().mkpath(QFileInfo(filePath).absolutePath());
    m_settings = std::make_unique<QSettings>(filePath, jsonFormat());
    // Each change is written at once; a partial write is never visible (QSaveFile).
    m_settings->setAtomicSyncRequired(true);
    reloadValues();
    instances().insert(m_settings->fileName(), this);
}

SettingsUserDefaults::~SettingsUserDefaults()
{
    instances().remove(m_settings->fileName(), this);
}

void SettingsUserDefaults::written(const QString &key)
{
    const QList<SettingsUserDefaults *> sharing = instances().values(m_settings->fileName());
    for (SettingsUserDefaults *instance : sharing) {
        instance->reloadValues();
        Q_EMIT instance->valueChanged(key);
    }
}

QString SettingsUserDefaults::defaultFilePath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QLatin1String("/tarnwick/settings.json");
}

void SettingsUserDefaults::reloadValues()
{
    m_values.clear();
    const QStringList keys = m_settings->allKeys();
    for (const QString &key : keys)
        m_values.insert(key, m_settings->value(key));
}

QVariant SettingsUserDefaults::value(const QString &key) const
{
    return m_values.value(key);
}

void SettingsUserDefaults::setValue(const QString &key, const QVariant &value)
{
    if (!value.isValid()) {
        remove(key);
        return;
    }
    m_settings->setValue(key, value);
    m_settings->sync();
    written(key);
}

void SettingsUserDefaults::remove(const QString &key)
{
    if (!m_values.contains(key))
        return;
    m_settings->remove(key);
    m_settings->sync();
    written(key);
}

QStringList SettingsUserDefaults::keys() const
{
    return m_values.keys();
}

QString SettingsUserDefaults::filePath() const
{
    return m_settings->fileName();
}

QString SettingsUserDefaults::movedAsidePath() const
{
    auto &state = movedAside();
    QMutexLocker locker(&state.mutex);
    return state.targets.value(m_settings->fileName());
}

QSettings::Status SettingsUserDefaults::status() const
{
    return m_settings->status();
}

} // namespace Platform
