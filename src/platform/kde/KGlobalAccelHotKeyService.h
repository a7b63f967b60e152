#pragma once

#include "platform/HotKeyService.h"
#include "platform/SystemShortcuts.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

namespace Platform::Kde {

// One of the program's named shortcuts, as KDE's shortcut settings list it.
struct NamedShortcut {
    QString unique; // the action's name in the component ("fixSelectedText")
    QString friendly; // what the user reads there ("Fix text")
    // The Carbon key code and modifiers stored for it now; nothing when it has none.
    std::optional<std::pair<quint32, quint32>> carbon;
};

// Hot keys through KDE's global shortcut service (org.kde.kglobalaccel, inside KWin on Plasma's
// Wayland session, a daemon of its own on Plasma's X11 session), spoken to over D-Bus.
//
// Each hot key is an action of the component "org.tarnwick.Tarnwick". The action takes the name of
// the program's shortcut whose stored keys it has (given by `namedShortcuts`), so that Plasma's
// shortcut settings show "Fix text" with its keys. A recorded shortcut is registered
// before it is stored, so it starts under a name of its own ("shortcut7") and moves to its
// shortcut's name on refreshActionNames(). KDE answers a request for keys with the
// keys it granted: anything else than what was asked (another program holds them) is the refusal
// eventHotKeyExistsErr, and the action is removed again. Nothing is left registered: a released hot
// key removes its action, and actions left over from an earlier run that ended abruptly are removed
// before the first registration. The service is never started by us (a kglobalaccel started on
// demand outside Plasma would accept keys it cannot grab): without it, every registration is
// refused with eventInternalErr. Keys changed in Plasma's shortcut settings withdraw the hot key
// (eventHotKeyExistsErr, to the status handler); changed back, they give it back. As the system's
// shortcut list, it reports keys that another component (KWin, Plasma, another program) holds.
class KGlobalAccelHotKeyService final : public QObject, public HotKeyService, public SystemShortcuts {
    Q_OBJECT

public:
    // The Qt key combination (QKeyCombination::toCombined()) of a Carbon key code and modifiers,
    // as KDE stores shortcuts; nothing when Qt cannot express it.
    using KeyCombination = std::function<std::optional<int>(quint32 carbonKeyCode, quint32 carbonModifiers)>;
    // The program's named shortcuts, read at every registration.
    using NamedShortcuts = std::function<QList<NamedShortcut>()>;

    static QString serviceName() { return QStringLiteral("org.kde.kglobalaccel"); }
    static QString componentName() { return QStringLiteral("org.tarnwick.Tarnwick"); }

    // Talks to kglobalaccel on `bus`. Without `namedShortcuts`, actions are named after the hot
    // key's id. Main thread only.
    KGlobalAccelHotKeyService(
        QDBusConnection bus, KeyCombination keyCombination, NamedShortcuts namedShortcuts = {});
    ~KGlobalAccelHotKeyService() override;

    int registerHotKey(quint32 carbonKeyCode, quint32 carbonModifiers, HotKeyId hotKeyId) override;
    void unregisterHotKey(quint32 id) override;
    int installEventHandler(EventHandler handler) override;
    void setHandlerListening(bool listening) override;

    bool isReserved(qint64 carbonKeyCode, qint64 carbonModifiers) override;

    // Moves every hot key to the action of the named shortcut that now has its keys; to be called
    // whenever a named shortcut was stored or removed.
    void refreshActionNames();

private Q_SLOTS:
    void onPressed(const QString &component, const QString &action, qlonglong timestamp);
    void onReleased(const QString &component, const QString &action, qlonglong timestamp);
    void onShortcutChanged(const QDBusMessage &message);

private:
    struct Registration {
        HotKeyId hotKeyId;
        quint32 carbonKeyCode = 0;
        quint32 carbonModifiers = 0;
        int keys = 0; // as KDE has them
        NamedShortcut action;
        bool pressed = false;
        bool withdrawn = false; // KDE gave its keys to something else
    };

    NamedShortcut actionFor(const Registration &registration) const;
    std::optional<QVariantList> call(const QString &path, const QString &interface, const QString &method,
        const QVariantList &arguments) const;
    std::optional<QDBusObjectPath> componentPath() const;
    void removeLeftoverActions();
    int setAction(const NamedShortcut &action, int keys);
    void removeAction(const QString &action);
    void deliver(EventKind kind, const QString &action, bool press);

    QDBusConnection m_bus;
    KeyCombination m_keyCombination;
    NamedShortcuts m_namedShortcuts;
    bool m_leftoversRemoved = false;
    bool m_signalsConnected = false;
    QList<Registration> m_registrations;
    EventHandler m_handler;
    bool m_listening = false;
};

} // namespace Platform::Kde
