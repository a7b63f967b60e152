#include "HeadlessGnome.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

namespace {

const QString frontendProgram = QStringLiteral("/usr/libexec/xdg-desktop-portal");
const QString backendName = QStringLiteral("org.freedesktop.impl.portal.desktop.tarnwick");
const QString frontendName = QStringLiteral("org.freedesktop.portal.Desktop");
const QString waylandDisplay = QStringLiteral("wayland-tarnwick");
const QString mutterService = QStringLiteral("org.gnome.Mutter.RemoteDesktop");
constexpr quint32 shiftKeysym = 0xffe1;
constexpr int startTimeout = 30000; // mutter and XWayland start slowly on a loaded machine

bool waitFor(const std::function<bool()> &condition, int timeout = startTimeout)
{
    QDeadlineTimer deadline(timeout);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(20);
    }
    return true;
}

} // namespace

HeadlessGnome::~HeadlessGnome()
{
    // Mutter's child quits when its input closes; the others are told to end.
    for (auto *process : {m_frontend.get(), m_backend.get(), m_mutter.get()}) {
        if (!process)
            continue;
        process->closeWriteChannel();
        process->terminate();
        if (!process->waitForFinished(5000))
            process->kill();
        process->waitForFinished(2000);
    }
}

QString HeadlessGnome::missing()
{
    if (qEnvironmentVariable("TARNWICK_PRIVATE_BUS") != QLatin1String("1"))
        return QStringLiteral("needs a private session bus: run it through ctest (dbus-run-session)");
    for (const QString &program :
        {QStringLiteral("mutter"), QStringLiteral("Xwayland"), QStringLiteral("xclip")}) {
        if (QStandardPaths::findExecutable(program).isEmpty())
            return program + QStringLiteral(" is not installed (scripts/setup.sh installs it)");
    }
    if (!QFile::exists(frontendProgram))
        return QStringLiteral("xdg-desktop-portal is not installed (scripts/setup.sh installs it)");
    if (QProcess::execute(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"), QStringLiteral("import gi; gi.require_version('Gtk', '3.0')")})
        != 0)
        return QStringLiteral("GTK 3 for Python is not installed (scripts/setup.sh installs it)");
    return {};
}

QProcess *HeadlessGnome::started(
    const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    auto *process = new QProcess;
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    return process;
}

QString HeadlessGnome::start(bool grant)
{
    if (!m_directory.isValid())
        return QStringLiteral("no temporary directory");
    const QDir directory(m_directory.path());
    QFile::setPermissions(
        directory.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    directory.mkpath(QStringLiteral("portals"));
    QFile portal(directory.filePath(QStringLiteral("portals/tarnwick.portal")));
    if (!portal.open(QIODevice::WriteOnly))
        return QStringLiteral("cannot write the portal configuration");
    portal.write(
        "[portal]\nDBusName=org.freedesktop.impl.portal.desktop.tarnwick\n"
        "Interfaces=org.freedesktop.impl.portal.GlobalShortcuts;org.freedesktop.impl.portal.RemoteDesktop;\n"
        "UseIn=tarnwick-test\n");
    portal.close();

    // mutter runs the command after "--" with its displays in the environment and ends when it
    // ends; the command writes them down and lives as long as this process.
    const QString envFile = directory.filePath(QStringLiteral("displays"));
    m_mutter.reset(started(QStringLiteral("mutter"),
        {QStringLiteral("--wayland"), QStringLiteral("--headless"), QStringLiteral("--virtual-monitor"),
            QStringLiteral("1280x720"), QStringLiteral("--wayland-display"), waylandDisplay,
            QStringLiteral("--"), QStringLiteral("sh"), QStringLiteral("-c"),
            QStringLiteral(
                "printf '%s\\n%s\\n' \"$DISPLAY\" \"$XAUTHORITY\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0\" "
                "&& while kill -0 \"$1\" 2>/dev/null; do sleep 1; done"),
            envFile, QString::number(QCoreApplication::applicationPid())},
        environment()));
    QFile displays(envFile);
    if (!waitFor([&] { return displays.exists(); }) || !displays.open(QIODevice::ReadOnly))
        return QStringLiteral("mutter did not start within %1 ms").arg(startTimeout);
    const QStringList lines = QString::fromLocal8Bit(displays.readAll()).split(QLatin1Char('\n'));
    m_display = lines.value(0);
    m_xauthority = lines.value(1);
    if (m_display.isEmpty())
        return QStringLiteral("mutter started without XWayland");
    qputenv("DISPLAY", m_display.toLocal8Bit());
    qputenv("XAUTHORITY", m_xauthority.toLocal8Bit());
    if (!waitForBusName(mutterService))
        return QStringLiteral("mutter did not offer org.gnome.Mutter.RemoteDesktop");
    // A headless seat has no keyboard, so windows never get the keyboard focus. A keyboard of
    // mutter's own remote desktop, kept for as long as this process is connected, appears with
    // its first key.
    const QDBusMessage created = QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(mutterService, QStringLiteral("/org/gnome/Mutter/RemoteDesktop"),
            mutterService, QStringLiteral("CreateSession")));
    const QString keyboard = created.arguments().value(0).value<QDBusObjectPath>().path();
    const QString keyboardInterface = mutterService + QStringLiteral(".Session");
    QDBusConnection::sessionBus().call(
        QDBusMessage::createMethodCall(mutterService, keyboard, keyboardInterface, QStringLiteral("Start")));
    for (const bool pressed : {true, false}) {
        QDBusMessage key = QDBusMessage::createMethodCall(
            mutterService, keyboard, keyboardInterface, QStringLiteral("NotifyKeyboardKeysym"));
        key.setArguments({shiftKeysym, pressed});
        if (QDBusConnection::sessionBus().call(key).type() != QDBusMessage::ReplyMessage)
            return QStringLiteral("mutter did not add a keyboard");
    }

    if (!restartBackend(grant))
        return QStringLiteral("the test portal backend did not start");
    QProcessEnvironment frontendEnvironment = environment();
    frontendEnvironment.insert(
        QStringLiteral("XDG_DESKTOP_PORTAL_DIR"), directory.filePath(QStringLiteral("portals")));
    frontendEnvironment.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("tarnwick-test"));
    m_frontend.reset(started(frontendProgram, {QStringLiteral("--replace")}, frontendEnvironment));
    if (!waitForBusName(frontendName))
        return QStringLiteral("xdg-desktop-portal did not start");
    return {};
}

bool HeadlessGnome::restartBackend(bool grant)
{
    return startBackend(grant ? QStringList() : QStringList({QStringLiteral("--refuse")}), backendName);
}

bool HeadlessGnome::useVersion2Frontend()
{
    stop(m_frontend, frontendName);
    return startBackend({QStringLiteral("--frontend")}, frontendName);
}

bool HeadlessGnome::startBackend(const QStringList &arguments, const QString &name)
{
    stop(m_backend, m_controlService);
    m_controlService = name;
    m_backend.reset(started(QStringLiteral(TARNWICK_TEST_PORTAL), arguments, environment()));
    return waitForBusName(name);
}

void HeadlessGnome::stop(std::unique_ptr<QProcess> &process, const QString &busName)
{
    if (!process)
        return;
    process->terminate();
    process->waitForFinished(5000);
    process.reset();
    waitFor([&] { return !QDBusConnection::sessionBus().interface()->isServiceRegistered(busName); });
}

QProcessEnvironment HeadlessGnome::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_directory.path());
    environment.insert(QStringLiteral("HOME"), m_directory.path());
    environment.insert(
        QStringLiteral("XDG_CONFIG_HOME"), QDir(m_directory.path()).filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), waylandDisplay);
    environment.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    // The programs choose their platform themselves, as on a desktop (ctest sets offscreen for us).
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    // GTK would otherwise start the accessibility bus on ours.
    environment.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
    if (m_display.isEmpty()) {
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("XAUTHORITY"));
    } else {
        environment.insert(QStringLiteral("DISPLAY"), m_display);
        environment.insert(QStringLiteral("XAUTHORITY"), m_xauthority);
    }
    return environment;
}

void HeadlessGnome::useFromThisProcess() const
{
    const QProcessEnvironment session = environment();
    for (const char *name : {"WAYLAND_DISPLAY", "XDG_RUNTIME_DIR", "NO_AT_BRIDGE"})
        qputenv(name, session.value(QLatin1String(name)).toLocal8Bit());
    qputenv("GDK_BACKEND", "wayland");
}

bool HeadlessGnome::waitForBusName(const QString &name) const
{
    return waitFor([&] { return QDBusConnection::sessionBus().interface()->isServiceRegistered(name); });
}

QVariant HeadlessGnome::control(const QString &method, const QVariantList &arguments) const
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_controlService,
        QStringLiteral("/org/freedesktop/portal/desktop"), QStringLiteral("org.tarnwick.TestPortal"), method);
    call.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qWarning("%s: %s", qPrintable(method), qPrintable(reply.errorMessage()));
        return {};
    }
    return reply.arguments().isEmpty() ? QVariant(true) : reply.arguments().first();
}
