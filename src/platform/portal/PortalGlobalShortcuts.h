#pragma once

#include "platform/HotKeyService.h"
#include "platform/portal/PortalRequest.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QVariantMap>

#include <QCoroTask>

namespace Platform::Portal {

// Hot keys through the GlobalShortcuts portal (KDE Plasma 5.27, GNOME 48 and later).
//
// The portal binds a session's shortcuts once, all together, and may ask the user first: so a
// registration is answered at once with noErr (or a refusal that needs no portal: a key without
// a symbol, the Function modifier), gathered with the others made in the same turn of the event
// loop, and bound in a new session that replaces the old one. What the portal then grants or
// refuses (or takes away later) goes to the status handler. The portal reports a press
// (Activated) and a release (Deactivated); both reach the handler with the registration's id.
// Main thread only.
class PortalGlobalShortcuts final : public QObject, public HotKeyService {
    Q_OBJECT

public:
    // Talks to the portal frontend on `bus`, which must stay connected while we live.
    explicit PortalGlobalShortcuts(QDBusConnection bus, QObject *parent = nullptr);
    ~PortalGlobalShortcuts() override;

    int registerHotKey(quint32 carbonKeyCode, quint32 carbonModifiers, HotKeyId hotKeyId) override;
    void unregisterHotKey(quint32 id) override;
    int installEventHandler(EventHandler handler) override;
    void setHandlerListening(bool listening) override;

private Q_SLOTS:
    void onSignal(const QDBusMessage &message);

private:
    struct Registration {
        HotKeyId hotKeyId;
        QString trigger; // also the portal's shortcut id: one per combination
        std::optional<int> status;
        bool pressed = false;
    };

    void scheduleBind();
    QCoro::Task<> bind(quint64 generation);
    void settle(Registration &registration, int status);
    void applyBoundShortcuts(const QList<PortalShortcut> &shortcuts);
    void deliver(EventKind kind, HotKeyId hotKeyId);

    QDBusConnection m_bus;
    QList<Registration> m_registrations;
    QString m_session;
    quint64 m_generation = 0;
    bool m_bindScheduled = false;
    EventHandler m_handler;
    bool m_listening = false;
};

} // namespace Platform::Portal
