#include "hotkeys/Localization.h"

#include "platform/qt/Installation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <dlfcn.h>

namespace Hotkeys {

namespace {

QString bundleDirectoryName()
{
    return QLatin1String(ResourceBundle::name) + QLatin1String(".bundle");
}

QString programDirectory()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
}

// The directory of the executable or shared library that holds this code.
QString moduleDirectory()
{
    Dl_info info {};
    if (dladdr(reinterpret_cast<void *>(&moduleDirectory), &info) == 0 || !info.dli_fname)
        return {};
    return QFileInfo(QFile::decodeName(info.dli_fname)).canonicalPath();
}

// "de-DE" and "de_DE" name the same table; the language alone is the next best.
QStringList tableNamesFor(const QString &language)
{
    QString name = language;
    name.replace(QLatin1Char('-'), QLatin1Char('_'));
    QStringList names {name};
    const qsizetype separator = name.indexOf(QLatin1Char('_'));
    if (separator > 0)
        names.append(name.left(separator));
    return names;
}

} // namespace

const ResourceBundle &ResourceBundle::module()
{
    static const ResourceBundle bundle = [] {
        auto located = locate(defaultCandidates());
        if (!located)
            qFatal("unable to find bundle named HotkeysResources");
        return std::move(*located);
    }();
    return bundle;
}

QStringList ResourceBundle::defaultCandidates()
{
    QStringList candidates;
    const QString program = programDirectory();
    const QString programResources = Platform::Installation::dataDirectoryBeside(program);
    if (!programResources.isEmpty())
        candidates.append(programResources);
    const QString moduleResources = Platform::Installation::dataDirectoryBeside(moduleDirectory());
    if (!moduleResources.isEmpty())
        candidates.append(moduleResources);
    if (!program.isEmpty())
        candidates.append(program);
    return candidates;
}

std::optional<ResourceBundle> ResourceBundle::locate(const QStringList &candidateDirectories)
{
    for (const QString &directory : candidateDirectories) {
        if (directory.isEmpty())
            continue;
        if (auto bundle = open(QDir(directory).filePath(bundleDirectoryName())))
            return bundle;
    }
    return std::nullopt;
}

std::optional<ResourceBundle> ResourceBundle::open(const QString &path)
{
    const QDir directory(path);
    if (!QFileInfo(path).isDir())
        return std::nullopt;
    ResourceBundle bundle;
    bundle.m_path = directory.absolutePath();
    const QStringList files = directory.entryList({QStringLiteral("*.json")}, QDir::Files | QDir::Readable);
    for (const QString &fileName : files) {
        QFile file(directory.filePath(fileName));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
        if (!document.isObject())
            continue;
        QHash<QString, QString> table;
        const QJsonObject object = document.object();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            if (it.value().isString())
                table.insert(it.key(), it.value().toString());
        }
        bundle.m_tables.insert(QFileInfo(fileName).completeBaseName(), table);
    }
    return bundle;
}

const QHash<QString, QString> *ResourceBundle::tableFor(const QStringList &languages) const
{
    for (const QString &language : languages) {
        for (const QString &name : tableNamesFor(language)) {
            const auto it = m_tables.constFind(name);
            if (it != m_tables.constEnd())
                return &it.value();
        }
    }
    const auto english = m_tables.constFind(QStringLiteral("en"));
    return english != m_tables.constEnd() ? &english.value() : nullptr;
}

QString ResourceBundle::localizedString(const QString &key, const QStringList &languages) const
{
    const QHash<QString, QString> *table = tableFor(languages);
    if (!table)
        return key;
    return table->value(key, key);
}

QString localizedString(const QString &key)
{
    return ResourceBundle::module().localizedString(key, QLocale().uiLanguages());
}

QString localizedStringWithFormat(const QString &key, const QString &argument)
{
    QString text = localizedString(key);
    // One pass, so a "%1" inside the argument stays as it is.
    return text.replace(QLatin1String("%1"), argument);
}

} // namespace Hotkeys
