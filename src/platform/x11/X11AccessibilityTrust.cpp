#include "platform/x11/X11AccessibilityTrust.h"

#include "platform/qt/Installation.h"
#include "platform/x11/Xcb.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

namespace Platform::X11 {

bool X11AccessibilityTrust::isProcessTrusted() const
{
    return Xcb::hasXTest(Xcb::qtConnection());
}

bool X11AccessibilityTrust::requestTrust()
{
    return isProcessTrusted();
}

QString X11AccessibilityTrust::helpPagePath()
{
    const QString name = QStringLiteral("accessibility.md");
    QStringList candidates;
    // Installed beside the program (<prefix>/bin/tarnwick, <prefix>/share/tarnwick/).
    const QString installed = Platform::Installation::dataDirectory();
    if (!installed.isEmpty())
        candidates << QDir(installed).filePath(name);
    candidates << QStandardPaths::locate(
        QStandardPaths::GenericDataLocation, QStringLiteral("tarnwick/") + name);
#ifdef TARNWICK_SOURCE_DIR
    candidates << QStringLiteral(TARNWICK_SOURCE_DIR "/docs/accessibility.md");
    candidates << QStringLiteral(TARNWICK_SOURCE_DIR "/README.md");
#endif
    for (const QString &candidate : std::as_const(candidates)) {
        if (!candidate.isEmpty() && QFileInfo(candidate).isFile())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return {};
}

void X11AccessibilityTrust::openSystemSettings()
{
    const QString path = helpPagePath();
    if (!path.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace Platform::X11
