#include "HeadlessSway.h"

#include "platform/wayland/SwayIpc.h"
#include "platform/wayland/WaylandConnection.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <chrono>

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"

namespace TestWayland {

namespace {

constexpr uid_t nobody = 65534;

} // namespace

HeadlessSway::~HeadlessSway()
{
    if (m_sway.state() != QProcess::NotRunning) {
        m_sway.terminate();
        if (!m_sway.waitForFinished(3000)) {
            m_sway.kill();
            m_sway.waitForFinished(3000);
        }
    }
}

QString HeadlessSway::unavailableReason()
{
    if (QStandardPaths::findExecutable(QStringLiteral("sway")).isEmpty())
        return QStringLiteral("sway is not installed (scripts/setup.sh installs it)");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return QStringLiteral("setpriv is not installed");
    if (::geteuid() != 0 && ::geteuid() != nobody)
        return QStringLiteral("sway runs as user nobody here, which needs root");
    return {};
}

bool HeadlessSway::start(const QByteArray &config, QString *error)
{
    m_runtime = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/tarnwick-sway-XXXXXX"));
    const QString dir = m_runtime->path();
    const QString configPath = dir + QStringLiteral("/config");
    QFile file(configPath);
    if (!m_runtime->isValid() || !file.open(QIODevice::WriteOnly) || file.write(config) != config.size()) {
        *error = QStringLiteral("cannot write sway's configuration in ") + dir;
        return false;
    }
    file.close();
    if (::geteuid() == 0 && ::chown(dir.toLocal8Bit().constData(), nobody, nobody) != 0) {
        *error = QStringLiteral("cannot hand ") + dir + QStringLiteral(" to nobody");
        return false;
    }
    QFile::setPermissions(
        configPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK", "DBUS_SESSION_BUS_ADDRESS"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir);
    environment.insert(QStringLiteral("HOME"), dir);
    environment.insert(QStringLiteral("WLR_BACKENDS"), QStringLiteral("headless"));
    environment.insert(QStringLiteral("WLR_LIBINPUT_NO_DEVICES"), QStringLiteral("1"));
    environment.insert(QStringLiteral("WLR_RENDERER"), QStringLiteral("pixman"));
    m_sway.setProcessEnvironment(environment);
    m_sway.setProcessChannelMode(QProcess::MergedChannels);
    m_sway.setStandardOutputFile(dir + QStringLiteral("/sway.log"));
    QStringList arguments;
    if (::geteuid() == 0)
        arguments << QStringLiteral("--reuid=65534") << QStringLiteral("--regid=65534")
                  << QStringLiteral("--clear-groups");
    arguments << QStringLiteral("sway") << QStringLiteral("-c") << configPath;
    m_sway.start(QStringLiteral("setpriv"), arguments);
    if (!m_sway.waitForStarted(5000)) {
        *error = QStringLiteral("sway did not start: ") + m_sway.errorString();
        return false;
    }

    // Up in well under a second when idle; a loaded machine gets much longer.
    const QDeadlineTimer deadline(std::chrono::seconds(30));
    while (!deadline.hasExpired() && m_sway.state() == QProcess::Running) {
        const QStringList sockets = QDir(dir).entryList({QStringLiteral("sway-ipc.*.sock")}, QDir::System);
        const QStringList displays = QDir(dir).entryList({QStringLiteral("wayland-*")}, QDir::System);
        for (const QString &display : displays) {
            if (!display.endsWith(QLatin1String(".lock")))
                m_waylandDisplay = display;
        }
        if (!sockets.isEmpty() && !m_waylandDisplay.isEmpty()) {
            Platform::Wayland::SwayIpc ipc(QDir(dir).filePath(sockets.first()));
            if (ipc.request(Platform::Wayland::SwayIpc::GetVersion, {})) {
                m_ipcSocket = QDir(dir).filePath(sockets.first());
                return true;
            }
        }
        QThread::msleep(20);
    }
    QFile log(dir + QStringLiteral("/sway.log"));
    log.open(QIODevice::ReadOnly);
    *error = QStringLiteral("sway did not come up: ") + QString::fromLocal8Bit(log.readAll().right(600));
    return false;
}

void HeadlessSway::useFromThisProcess() const
{
    qunsetenv("DISPLAY");
    qputenv("XDG_RUNTIME_DIR", runtimeDirectory().toLocal8Bit());
    qputenv("WAYLAND_DISPLAY", m_waylandDisplay.toLocal8Bit());
    qputenv("SWAYSOCK", m_ipcSocket.toLocal8Bit());
}

QByteArray HeadlessSway::command(const QString &commands) const
{
    Platform::Wayland::SwayIpc ipc(m_ipcSocket);
    return ipc.request(Platform::Wayland::SwayIpc::RunCommand, commands.toUtf8()).value_or(QByteArray());
}

QString HeadlessSway::xwaylandDisplay() const
{
    const QString file = runtimeDirectory() + QStringLiteral("/display");
    command(QStringLiteral("exec echo $DISPLAY > ") + file);
    const QDeadlineTimer deadline(std::chrono::seconds(10));
    while (!deadline.hasExpired()) {
        QFile answer(file);
        if (answer.open(QIODevice::ReadOnly)) {
            const QString display = QString::fromLocal8Bit(answer.readAll()).trimmed();
            if (!display.isEmpty())
                return display;
        }
        QThread::msleep(20);
    }
    return {};
}

Keyboard::Keyboard()
    : m_connection(std::make_unique<Platform::Wayland::WaylandConnection>())
{
    m_manager = static_cast<zwp_virtual_keyboard_manager_v1 *>(
        m_connection->bind(&zwp_virtual_keyboard_manager_v1_interface, 1));
    m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names {"evdev", "pc105", "us", "", ""};
    m_keymap
        = m_context ? xkb_keymap_new_from_names(m_context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS) : nullptr;
    if (!m_manager || !m_keymap || !m_connection->seat())
        return;
    m_state = xkb_state_new(m_keymap);
    char *text = xkb_keymap_get_as_string(m_keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    const size_t size = strlen(text) + 1;
    const int fd = memfd_create("test-keymap", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, text, size) != ssize_t(size)) {
        free(text);
        return;
    }
    free(text);
    m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, m_connection->seat());
    zwp_virtual_keyboard_v1_keymap(m_keyboard, XKB_KEYMAP_FORMAT_TEXT_V1, fd, quint32(size));
    ::close(fd);
    m_connection->roundtrip();
}

Keyboard::~Keyboard()
{
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
    if (m_manager)
        wl_proxy_destroy(reinterpret_cast<wl_proxy *>(m_manager));
    m_connection->roundtrip();
    if (m_state)
        xkb_state_unref(m_state);
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    if (m_context)
        xkb_context_unref(m_context);
}

void Keyboard::send(quint32 evdev, bool press)
{
    using namespace std::chrono;
    const auto time = quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
    zwp_virtual_keyboard_v1_key(m_keyboard, time, evdev, press ? 1 : 0);
    xkb_state_update_key(m_state, evdev + 8, press ? XKB_KEY_DOWN : XKB_KEY_UP);
    zwp_virtual_keyboard_v1_modifiers(m_keyboard, xkb_state_serialize_mods(m_state, XKB_STATE_MODS_DEPRESSED),
        xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LATCHED),
        xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LOCKED), 0);
    m_connection->roundtrip();
}

void Keyboard::press(quint32 evdev)
{
    send(evdev, true);
}

void Keyboard::release(quint32 evdev)
{
    send(evdev, false);
}

void Keyboard::chord(const QList<quint32> &keys)
{
    for (quint32 key : keys)
        press(key);
    for (auto it = keys.crbegin(); it != keys.crend(); ++it)
        release(*it);
}

} // namespace TestWayland
