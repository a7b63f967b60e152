#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace Platform::Wayland {
class WaylandConnection;
}

namespace TestWayland {

// A headless sway for one test: run as user nobody (sway refuses root) with a private runtime
// directory, no input devices and the software renderer. Its clients may run as root. Stopped
// (by its own process id) when the fixture goes.
class HeadlessSway {
public:
    HeadlessSway() = default;
    ~HeadlessSway();
    HeadlessSway(const HeadlessSway &) = delete;
    HeadlessSway &operator=(const HeadlessSway &) = delete;

    // Why sway cannot run here (not installed, no setpriv), or empty when it can.
    static QString unavailableReason();

    // Starts sway with `config` and waits until its IPC answers; false with `error` said.
    bool start(const QByteArray &config, QString *error);

    // Points this process (and the programs it starts) at this sway: WAYLAND_DISPLAY,
    // XDG_RUNTIME_DIR and SWAYSOCK set, DISPLAY removed.
    void useFromThisProcess() const;

    QString runtimeDirectory() const { return m_runtime ? m_runtime->path() : QString(); }
    // The X display of sway's XWayland (with "xwayland force" in the configuration), as sway
    // gives it to the programs it starts; empty when there is none. Its clients must run as nobody.
    QString xwaylandDisplay() const;
    // Runs sway commands over IPC; the reply's JSON, or empty when sway did not answer.
    QByteArray command(const QString &commands) const;

private:
    std::unique_ptr<QTemporaryDir> m_runtime;
    QProcess m_sway;
    QString m_ipcSocket;
    QString m_waylandDisplay;
};

// A keyboard for the test to type on, through zwp_virtual_keyboard_v1 with the US keymap: keys by
// evdev code, the modifier state following the keys held, as a real keyboard's would. Kept for the
// whole test: a seat whose only keyboard comes and goes loses keystrokes.
class Keyboard {
public:
    // Connects on its own (WAYLAND_DISPLAY of this process). Check isReady().
    Keyboard();
    ~Keyboard();

    bool isReady() const { return m_keyboard != nullptr; }
    void press(quint32 evdev);
    void release(quint32 evdev);
    // Presses `keys` in order, then releases them in reverse order.
    void chord(const QList<quint32> &keys);

private:
    void send(quint32 evdev, bool press);

    std::unique_ptr<Platform::Wayland::WaylandConnection> m_connection;
    zwp_virtual_keyboard_manager_v1 *m_manager = nullptr;
    zwp_virtual_keyboard_v1 *m_keyboard = nullptr;
    xkb_context *m_context = nullptr;
    xkb_keymap *m_keymap = nullptr;
    xkb_state *m_state = nullptr;
};

// evdev codes of the keys the tests press.
inline constexpr quint32 keyLeftCtrl = 29;
inline constexpr quint32 keyLeftShift = 42;
inline constexpr quint32 keyLeftAlt = 56;
inline constexpr quint32 keyE = 18;

} // namespace TestWayland
