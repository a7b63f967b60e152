#include "platform/qt/Installation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace Platform::Installation {

QString appId()
{
    return QStringLiteral("org.tarnwick.Tarnwick");
}

QString dataDirectoryBeside(const QString &binaryDirectory)
{
    if (binaryDirectory.isEmpty())
        return {};
    // The path from the binary directory to the data directory is fixed at configuration time,
    // so an installed tree can be moved to another prefix as a whole.
    const QString path = QDir(binaryDirectory).filePath(QStringLiteral(TARNWICK_BINDIR_TO_DATADIR));
    return QFileInfo(path).isDir() ? QDir::cleanPath(path) : QString();
}

QString dataDirectory()
{
    return dataDirectoryBeside(QCoreApplication::applicationDirPath());
}

} // namespace Platform::Installation
