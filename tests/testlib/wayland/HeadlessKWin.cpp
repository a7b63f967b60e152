#include "HeadlessKWin.h"

#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTest>

using namespace std::chrono_literals;

namespace {

const QString socketName = QStringLiteral("wayland-kwin");
const QStringList kwinServices {QStringLiteral("org.kde.KWin"), QStringLiteral("org.kde.kglobalaccel")};

} // namespace

HeadlessKWin::~HeadlessKWin()
{
    if (m_kwin.state() == QProcess::NotRunning)
        return;
    m_kwin.terminate();
    if (!m_kwin.waitForFinished(10000))
        m_kwin.kill();
    m_kwin.waitForFinished(5000);
}

QString HeadlessKWin::start()
{
    const QString installed = QStandardPaths::findExecutable(QStringLiteral("kwin_wayland"));
    if (installed.isEmpty())
        return QStringLiteral("kwin_wayland is not installed (Debian package kwin-wayland)");
    // KWin takes well-known names on the session bus: never the user's own.
    if (qgetenv("TARNWICK_PRIVATE_BUS") != "1")
        return QStringLiteral("needs a session bus of its own (CTest runs it inside dbus-run-session)");
    QDBusConnectionInterface *bus = QDBusConnection::sessionBus().interface();
    if (!bus)
        return QStringLiteral("no session bus");
    if (!m_root.isValid())
        return QStringLiteral("no temporary folder");

    QDir root(m_root.path());
    for (const char *dir : {"home", "runtime", "config", "data", "cache", "share/applications", "bin"})
        root.mkpath(QString::fromLatin1(dir));
    QFile::setPermissions(
        root.filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // The packaged binary carries a file capability that a sandbox may refuse at exec; a copy
    // has none. KWin finds its plugins by its install prefix, not its own path.
    const QString kwin = root.filePath(QStringLiteral("bin/kwin_wayland"));
    if (!QFile::copy(installed, kwin))
        return QStringLiteral("could not copy %1").arg(installed);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "WAYLAND_SOCKET"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root.filePath(QStringLiteral("data")));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), root.filePath(QStringLiteral("cache")));
    environment.insert(QStringLiteral("XDG_DATA_DIRS"),
        root.filePath(QStringLiteral("share")) + QStringLiteral(":/usr/local/share:/usr/share"));
    environment.insert(QStringLiteral("KWIN_COMPOSE"), QStringLiteral("Q"));
    m_kwin.setProcessEnvironment(environment);
    m_kwin.setProcessChannelMode(QProcess::MergedChannels);
    m_kwin.setStandardOutputFile(root.filePath(QStringLiteral("kwin.log")));
    m_kwin.start(kwin,
        {QStringLiteral("--virtual"), QStringLiteral("--no-lockscreen"), QStringLiteral("--socket"),
            socketName, QStringLiteral("--width"), QStringLiteral("1280"), QStringLiteral("--height"),
            QStringLiteral("720")});
    if (!m_kwin.waitForStarted(10000))
        return QStringLiteral("kwin_wayland did not start: %1").arg(m_kwin.errorString());

    // A loaded machine slows the start a lot; a KWin that ends is an answer at once.
    const auto log = [&root] {
        QFile file(root.filePath(QStringLiteral("kwin.log")));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll().right(2000))
                                              : QString();
    };
    const QDeadlineTimer deadline(60s);
    while (!deadline.hasExpired()) {
        if (m_kwin.state() == QProcess::NotRunning)
            return QStringLiteral("kwin_wayland ended: %1").arg(log());
        const bool ready = QFileInfo::exists(root.filePath(QStringLiteral("runtime/") + socketName))
            && std::all_of(kwinServices.cbegin(), kwinServices.cend(),
                [bus](const QString &service) { return bus->isServiceRegistered(service).value(); });
        if (ready)
            return {};
        QTest::qWait(20);
    }
    return QStringLiteral("kwin_wayland did not come up within a minute: %1").arg(log());
}

void HeadlessKWin::grantFakeInput(const QString &executable)
{
    const QByteArray key
        = QCryptographicHash::hash(executable.toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    QFile entry(
        QDir(m_root.path())
            .filePath(QStringLiteral("share/applications/test-%1.desktop").arg(QString::fromLatin1(key))));
    QVERIFY(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
    entry.write("[Desktop Entry]\nType=Application\nName=" + QFileInfo(executable).fileName().toUtf8()
        + "\nExec=" + executable.toUtf8()
        + "\nNoDisplay=true\nX-KDE-Wayland-Interfaces=org_kde_kwin_fake_input\n");
}

void HeadlessKWin::useFromThisProcess() const
{
    const QDir root(m_root.path());
    qunsetenv("DISPLAY");
    qputenv("XDG_RUNTIME_DIR", root.filePath(QStringLiteral("runtime")).toLocal8Bit());
    qputenv("WAYLAND_DISPLAY", socketName.toLocal8Bit());
    qputenv("XDG_DATA_DIRS",
        (root.filePath(QStringLiteral("share")) + QStringLiteral(":/usr/local/share:/usr/share"))
            .toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "wayland");
}
