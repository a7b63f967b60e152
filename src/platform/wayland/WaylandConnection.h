#pragma once

#include <QMap>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSocketNotifier;
struct wl_display;
struct wl_interface;
struct wl_keyboard;
struct wl_registry;
struct wl_seat;

namespace Platform::Wayland {

// Our own connection to the Wayland compositor, apart from Qt's: the protocol clients below work
// whatever platform plugin Qt itself runs on (XWayland included). Events are read on the main
// thread through a socket notifier and dispatched from the event loop; requests are flushed
// before the loop sleeps. Binds the first seat. Main thread only.
class WaylandConnection final : public QObject {
    Q_OBJECT

public:
    struct Global {
        quint32 name = 0;
        quint32 version = 0;
    };

    // Connects to `display` (a socket name or path), or to WAYLAND_DISPLAY when it is empty, and
    // reads the globals. Never throws: check isConnected().
    explicit WaylandConnection(const QString &display = {}, QObject *parent = nullptr);
    ~WaylandConnection() override;
    WaylandConnection(const WaylandConnection &) = delete;
    WaylandConnection &operator=(const WaylandConnection &) = delete;

    // Whether the compositor answered and the connection has not failed since.
    bool isConnected() const;
    wl_display *display() const { return m_display; }
    wl_seat *seat() const { return m_seat; }
    // Whether the seat has a keyboard now (asking for it otherwise is a protocol error).
    bool seatHasKeyboard() const { return m_seatCapabilities & 2; }
    // Follows the seat keyboard's keymap: `onKeymap` gets the text of each XKB keymap the
    // compositor hands over, the first during the next roundtrip. Null when the seat has no
    // keyboard now. `onKeymap` must outlive the keyboard, which the caller releases
    // (wl_keyboard_release).
    wl_keyboard *followSeatKeymap(const std::function<void(const QByteArray &)> *onKeymap);

    // The compositor's globals by interface name (the first of each), as announced at connection.
    const QMap<QString, Global> &globals() const { return m_globals; }
    // Binds the global `interface` at the highest version both sides know, capped at `maxVersion`;
    // null when the compositor does not offer it (or not at `minVersion`).
    void *bind(const wl_interface *interface, quint32 maxVersion, quint32 minVersion = 1);

    // Sends the queued requests and waits until the compositor has handled them and sent their
    // events, which are dispatched. False when the connection failed.
    bool roundtrip();
    // Sends the queued requests without waiting.
    void flush();

    // Keystrokes posted through this connection so far. A selection that we publish counts as
    // fetched by its paste target only when a keystroke followed the publishing: clipboard
    // managers fetch every new selection at once, before any keystroke.
    quint64 keystrokeCount() const { return m_keystrokes; }
    void noteKeystroke() { ++m_keystrokes; }

Q_SIGNALS:
    // The compositor closed the connection or reported a protocol error.
    void failed();

private:
    void readEvents();
    void dispatchPending();
    void checkError();

    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    wl_seat *m_seat = nullptr;
    quint32 m_seatCapabilities = 0;
    QMap<QString, Global> m_globals;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QMetaObject::Connection m_aboutToBlock;
    quint64 m_keystrokes = 0;
    bool m_failed = false;
};

} // namespace Platform::Wayland
