#include "app/SingleInstance.h"

#include "app/CommandChannel.h"

#include <QDir>
#include <QStandardPaths>

namespace {

QString lockFilePath()
{
    // A Wayland session is named by its compositor's socket, in the session's runtime directory.
    QString wayland = qEnvironmentVariable("WAYLAND_DISPLAY");
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!wayland.isEmpty() && !runtime.isEmpty()) {
        wayland.replace(QLatin1Char('/'), QLatin1Char('_'));
        return QDir(runtime).filePath(QStringLiteral("tarnwick-%1.lock").arg(wayland));
    }
    QString display = QString::fromLocal8Bit(qgetenv("DISPLAY"));
    display.replace(QLatin1Char('/'), QLatin1Char('_'));
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    return QDir(directory).filePath(QStringLiteral("tarnwick-%1.lock").arg(display));
}

} // namespace

bool SingleInstance::acquire(CommandChannel &channel, std::FILE *errors)
{
    switch (channel.claim()) {
    case CommandChannel::Claim::Owned:
        return true;
    case CommandChannel::Claim::Taken:
        std::fputs("tarnwick: Tarnwick is already running; not starting a second one\n", errors);
        std::fflush(errors);
        return false;
    case CommandChannel::Claim::NoBus:
        break;
    }
    m_lock = std::make_unique<QLockFile>(lockFilePath());
    if (m_lock->tryLock(0))
        return true;
    qint64 pid = 0;
    QString host, application;
    m_lock->getLockInfo(&pid, &host, &application);
    std::fprintf(errors, "tarnwick: Tarnwick is already running (process %lld); not starting a second one\n",
        static_cast<long long>(pid));
    std::fflush(errors);
    return false;
}
