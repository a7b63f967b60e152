#include "platform/wayland/WaylandConnection.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <algorithm>

#include <sys/mman.h>
#include <unistd.h>

#include <wayland-client.h>

namespace Platform::Wayland {

namespace {

// Hands the text of an XKB keymap to the std::function behind `data`; other formats are ignored.
void onSeatKeymap(void *data, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size)
{
    QByteArray text;
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void *map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (map != MAP_FAILED) {
            text = QByteArray(
                static_cast<const char *>(map), qsizetype(::strnlen(static_cast<const char *>(map), size)));
            ::munmap(map, size);
        }
    }
    ::close(fd);
    if (!text.isEmpty())
        (*static_cast<const std::function<void(const QByteArray &)> *>(data))(text);
}

const wl_keyboard_listener keymapListener {
    onSeatKeymap,
    [](void *, wl_keyboard *, uint32_t, wl_surface *, wl_array *) {},
    [](void *, wl_keyboard *, uint32_t, wl_surface *) {},
    [](void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t) {},
    [](void *, wl_keyboard *, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {},
    [](void *, wl_keyboard *, int32_t, int32_t) {},
};

void onGlobal(void *data, wl_registry *, uint32_t name, const char *interface, uint32_t version)
{
    auto *globals = static_cast<QMap<QString, WaylandConnection::Global> *>(data);
    const QString key = QString::fromUtf8(interface);
    if (!globals->contains(key))
        globals->insert(key, {name, version});
}

void onGlobalRemove(void *, wl_registry *, uint32_t) { }

const wl_registry_listener registryListener {onGlobal, onGlobalRemove};

} // namespace

WaylandConnection::WaylandConnection(const QString &display, QObject *parent)
    : QObject(parent)
{
    m_display = wl_display_connect(display.isEmpty() ? nullptr : display.toUtf8().constData());
    if (!m_display)
        return;
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &registryListener, &m_globals);
    if (wl_display_roundtrip(m_display) < 0) {
        m_failed = true;
        return;
    }
    m_seat = static_cast<wl_seat *>(bind(&wl_seat_interface, 5));
    if (m_seat) {
        static const wl_seat_listener seatListener {[](void *data, wl_seat *, uint32_t capabilities) {
                                                        *static_cast<quint32 *>(data) = capabilities;
                                                    },
            [](void *, wl_seat *, const char *) {}};
        wl_seat_add_listener(m_seat, &seatListener, &m_seatCapabilities);
        wl_display_roundtrip(m_display);
    }

    if (QCoreApplication::instance()) {
        m_notifier = std::make_unique<QSocketNotifier>(wl_display_get_fd(m_display), QSocketNotifier::Read);
        connect(m_notifier.get(), &QSocketNotifier::activated, this, &WaylandConnection::readEvents);
        if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance())
            m_aboutToBlock = connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
                dispatchPending();
                flush();
            });
    }
}

WaylandConnection::~WaylandConnection()
{
    disconnect(m_aboutToBlock);
    m_notifier.reset();
    if (!m_display)
        return;
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    wl_display_flush(m_display);
    wl_display_disconnect(m_display);
}

bool WaylandConnection::isConnected() const
{
    return m_display && !m_failed && wl_display_get_error(m_display) == 0;
}

void *WaylandConnection::bind(const wl_interface *interface, quint32 maxVersion, quint32 minVersion)
{
    if (!m_display)
        return nullptr;
    const auto it = m_globals.constFind(QString::fromUtf8(interface->name));
    if (it == m_globals.cend() || it->version < minVersion)
        return nullptr;
    const quint32 version = std::min({it->version, maxVersion, quint32(interface->version)});
    return wl_registry_bind(m_registry, it->name, interface, version);
}

bool WaylandConnection::roundtrip()
{
    if (!isConnected())
        return false;
    if (wl_display_roundtrip(m_display) < 0) {
        checkError();
        return false;
    }
    return true;
}

void WaylandConnection::flush()
{
    if (isConnected() && wl_display_flush(m_display) < 0 && errno != EAGAIN)
        checkError();
}

void WaylandConnection::readEvents()
{
    if (!isConnected())
        return;
    // Events already read by a roundtrip sit in the queue; reading needs an empty one.
    while (wl_display_prepare_read(m_display) != 0)
        wl_display_dispatch_pending(m_display);
    if (wl_display_read_events(m_display) < 0) {
        checkError();
        return;
    }
    dispatchPending();
}

void WaylandConnection::dispatchPending()
{
    if (isConnected() && wl_display_dispatch_pending(m_display) < 0)
        checkError();
}

void WaylandConnection::checkError()
{
    if (m_failed || !m_display)
        return;
    const int error = wl_display_get_error(m_display);
    if (error == 0)
        return;
    m_failed = true;
    if (m_notifier)
        m_notifier->setEnabled(false);
    QTextStream(stderr) << "tarnwick: the Wayland connection failed (" << qt_error_string(error) << ")"
                        << Qt::endl;
    Q_EMIT failed();
}

wl_keyboard *WaylandConnection::followSeatKeymap(const std::function<void(const QByteArray &)> *onKeymap)
{
    if (!m_seat || !seatHasKeyboard())
        return nullptr;
    wl_keyboard *keyboard = wl_seat_get_keyboard(m_seat);
    wl_keyboard_add_listener(
        keyboard, &keymapListener, const_cast<std::function<void(const QByteArray &)> *>(onKeymap));
    return keyboard;
}

} // namespace Platform::Wayland
