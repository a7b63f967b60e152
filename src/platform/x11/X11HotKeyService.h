#pragma once

#include "platform/HotKeyService.h"

#include <QAbstractNativeEventFilter>
#include <QList>

#include <optional>

struct xcb_connection_t;

namespace Platform::X11 {

// Hot keys as passive key grabs on the root window, through Qt's own xcb connection.
//
// A combination is grabbed once for every mix of the lock modifiers (Caps Lock, Num Lock, Scroll
// Lock), since X matches the modifier state exactly. Every grab request is checked; a BadAccess
// (another client holds the combination) is the refusal eventHotKeyExistsErr and partial grabs
// are undone. Modifiers map as Qt maps them on macOS: Command is Control, Control is Super (Mod4),
// Option is Alt (Mod1); the Function modifier has no X counterpart and is refused.
//
// Without an X connection (a Wayland session, the offscreen platform) every registration is
// refused with eventInternalErr, and that is said once on stderr.
class X11HotKeyService final : public HotKeyService, public QAbstractNativeEventFilter {
public:
    // Needs a QGuiApplication; uses its X connection when it runs on the xcb platform.
    X11HotKeyService();
    ~X11HotKeyService() override;
    X11HotKeyService(const X11HotKeyService &) = delete;
    X11HotKeyService &operator=(const X11HotKeyService &) = delete;

    int registerHotKey(quint32 carbonKeyCode, quint32 carbonModifiers, HotKeyId hotKeyId) override;
    void unregisterHotKey(quint32 id) override;
    int installEventHandler(EventHandler handler) override;
    void setHandlerListening(bool listening) override;

    // True when an X connection is there to grab keys with.
    bool isAvailable() const { return m_connection != nullptr; }
    // True when the server reports held keys as one press and one release (XKB).
    bool hasDetectableAutoRepeat() const { return m_detectableAutoRepeat; }

    // Whether another client holds a grab of the combination on the root window, found by
    // grabbing it and letting go at once. A combination this service holds is not taken (and is
    // not probed: grabbing it again would replace our own grab). Nothing when it cannot be told.
    std::optional<bool> isTakenByAnotherClient(qint64 carbonKeyCode, qint64 carbonModifiers);

    // The X modifier mask for Carbon modifier bits, or nothing when a bit has no X counterpart.
    static std::optional<quint16> xModifiersForCarbon(quint32 carbonModifiers);

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

private:
    struct Grab {
        HotKeyId hotKeyId;
        quint8 keycode = 0;
        quint16 modifiers = 0;
        QList<quint16> lockVariants; // the lock-modifier masks this grab was made with
        bool pressed = false;
    };

    QList<quint16> lockVariants();
    quint16 lockMask() const;
    void ungrab(const Grab &grab);
    void deliver(EventKind kind, HotKeyId hotKeyId);
    void reportUnavailable();

    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
    bool m_detectableAutoRepeat = false;
    bool m_reportedUnavailable = false;
    quint16 m_numLockMask = 0;
    quint16 m_scrollLockMask = 0;
    QList<Grab> m_grabs;
    EventHandler m_handler;
    bool m_listening = false;
};

} // namespace Platform::X11
