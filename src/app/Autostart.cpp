#include "app/Autostart.h"

#include "platform/qt/Installation.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

// An Exec argument quoted as desktop entries want it: in double quotes when it holds a blank or a
// reserved character, with ", `, $ and \ escaped inside; backslashes doubled once more because
// the value itself is a string with escapes.
QString execArgument(const QString &argument)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    if (!std::any_of(argument.begin(), argument.end(), [](QChar c) { return reserved.contains(c); }))
        return argument;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$')
            quoted += u'\\';
        else if (c == u'\\')
            quoted += QStringLiteral("\\\\\\");
        quoted += c;
    }
    return quoted + u'"';
}

} // namespace

Autostart::Autostart(QString directory, QString program)
    : m_directory(std::move(directory))
    , m_program(std::move(program))
{
}

QString Autostart::defaultDirectory()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("autostart"));
}

QString Autostart::filePath() const
{
    return QDir(m_directory).filePath(Platform::Installation::appId() + QStringLiteral(".desktop"));
}

bool Autostart::isEnabled() const
{
    QFile file(filePath());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    bool inEntry = false;
    bool sawEntry = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inEntry = line == QLatin1String("[Desktop Entry]");
            sawEntry = sawEntry || inEntry;
            continue;
        }
        if (!inEntry)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if ((key == QLatin1String("Hidden") && value == QLatin1String("true"))
            || (key == QLatin1String("X-GNOME-Autostart-enabled") && value == QLatin1String("false")))
            return false;
    }
    return sawEntry;
}

QString Autostart::setEnabled(bool on) const
{
    const QString path = filePath();
    if (!on) {
        QFile file(path);
        if (file.exists() && !file.remove())
            return QStringLiteral("Cannot remove %1: %2").arg(path, file.errorString());
        return {};
    }
    if (!QDir().mkpath(m_directory))
        return QStringLiteral("Cannot create the folder %1").arg(m_directory);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    const QString entry
        = QStringLiteral("[Desktop Entry]\n"
                         "Type=Application\n"
                         "Name=Tarnwick\n"
                         "Comment=Correct the selected text in any application with a shortcut\n"
                         "Exec=%1\n"
                         "Icon=%2\n"
                         "Terminal=false\n"
                         "X-GNOME-Autostart-enabled=true\n")
              .arg(execArgument(m_program), Platform::Installation::appId());
    file.write(entry.toUtf8());
    if (!file.commit())
        return QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
    return {};
}
