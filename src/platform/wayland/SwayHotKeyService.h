#pragma once

#include "platform/HotKeyService.h"
#include "platform/SystemShortcuts.h"
#include "platform/wayland/SwayIpc.h"

#include <QList>
#include <QObject>
#include <QSet>

#include <memory>

class QSocketNotifier;

namespace Platform::Wayland {

// Hot keys as sway bindings added at run time over its IPC (man 7 sway-ipc, man 5 sway).
//
// Each hot key is two bindings by key code, the same physical keys as X11 grabs use: one on the
// press, so that the focused application never receives the keys, and one on the release; both
// run `nop` with a tag of ours, and sway reports them back as binding events on a second, subscribed
// connection. Modifiers map as on X11: Command is Ctrl, Control is Mod4, Option is Mod1; the
// Function modifier is refused. A combination that the user's own configuration binds is left to
// it and refused (a binding added over IPC would replace it); so is one sway refuses. A reload of
// sway's configuration drops run-time bindings: ours are added again then, or reported refused.
// Every binding is removed when the hot key is, and all of them when the service goes away. As the system's
// shortcuts it reports those of the user's configuration. Main thread only.
class SwayHotKeyService final : public QObject, public HotKeyService, public SystemShortcuts {
    Q_OBJECT

public:
    // Connects to sway at `socketPath` and reads its configuration once. Check isAvailable().
    explicit SwayHotKeyService(const QString &socketPath, QObject *parent = nullptr);
    ~SwayHotKeyService() override;

    bool isAvailable() const;

    int registerHotKey(quint32 carbonKeyCode, quint32 carbonModifiers, HotKeyId hotKeyId) override;
    void unregisterHotKey(quint32 id) override;
    int installEventHandler(EventHandler handler) override;
    void setHandlerListening(bool listening) override;
    // Reserved: bound by the user's sway configuration.
    bool isReserved(qint64 carbonKeyCode, qint64 carbonModifiers) override;

    // The key combination of a sway binding by code ("Ctrl+Shift+26"), or nothing when a key or
    // modifier has no counterpart.
    static std::optional<QString> combination(quint32 carbonKeyCode, quint32 carbonModifiers);
    // The combinations that a sway configuration binds, in the same spelling, whatever way each
    // is written there (bindsym by symbol or bindcode, $variables, flags).
    static QSet<QString> configuredCombinations(const QString &config);

private:
    struct Binding {
        HotKeyId hotKeyId;
        QString combination;
        bool pressed = false;
    };
    QString tag(bool release, quint32 id) const;
    bool run(const QString &commands, QString *error = nullptr);
    void readUserConfiguration();
    // Adds both bindings of `keys`; the status of the registration.
    int bind(const QString &keys, quint32 id);
    void bindAgainAfterReload();
    void readEvents();
    void deliver(EventKind kind, HotKeyId hotKeyId);

    SwayIpc m_commands;
    SwayIpc m_events;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QSet<QString> m_userCombinations;
    QList<Binding> m_bindings;
    EventHandler m_handler;
    bool m_listening = false;
};

} // namespace Platform::Wayland
