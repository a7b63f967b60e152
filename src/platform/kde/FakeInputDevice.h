#pragma once

#include <QString>
#include <QtGlobal>

struct org_kde_kwin_fake_input;

namespace Platform::Wayland {
class WaylandConnection;
}

namespace Platform::Kde {

// KWin's fake input device (org_kde_kwin_fake_input) on a Wayland connection: key presses and
// releases by Linux evdev code, handled by KWin as if typed on the seat's keyboard, into whatever
// window has the focus. KWin offers the protocol only to a program whose installed desktop entry
// names its absolute path in Exec and lists org_kde_kwin_fake_input in
// X-KDE-Wayland-Interfaces; to any other program the global does not exist. Main thread only.
class FakeInputDevice {
public:
    // Binds the device on `connection`, which must outlive it, telling KWin who asks and why.
    FakeInputDevice(
        Wayland::WaylandConnection &connection, const QString &application, const QString &reason);
    ~FakeInputDevice();
    FakeInputDevice(const FakeInputDevice &) = delete;
    FakeInputDevice &operator=(const FakeInputDevice &) = delete;

    // Whether KWin offered the device to us (and with key events, version 4).
    bool isGranted() const { return m_fakeInput != nullptr; }

    // Queues a press (true) or release of the key with evdev code `code`; nothing without a grant.
    void key(quint32 code, bool pressed);
    // Sends what is queued.
    void flush();

private:
    Wayland::WaylandConnection &m_connection;
    org_kde_kwin_fake_input *m_fakeInput = nullptr;
};

} // namespace Platform::Kde
