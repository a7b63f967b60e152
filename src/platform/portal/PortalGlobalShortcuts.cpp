#include "platform/portal/PortalGlobalShortcuts.h"

#include "platform/portal/KeySymbols.h"

#include <QDBusMetaType>
#include <QPointer>
#include <QTimer>

namespace Platform::Portal {

namespace {

const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

QList<PortalShortcut> shortcutList(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QList<PortalShortcut>>(value.value<QDBusArgument>());
    return value.value<QList<PortalShortcut>>();
}

} // namespace

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_bus(std::move(bus))
{
    registerPortalTypes();
    // Whole messages: a slot with typed arguments failed to connect in some programs.
    for (const char *signal : {"Activated", "Deactivated", "ShortcutsChanged"})
        m_bus.connect(desktopService, desktopPath, shortcutsInterface, QLatin1String(signal), this,
            SLOT(onSignal(QDBusMessage)));
}

PortalGlobalShortcuts::~PortalGlobalShortcuts()
{
    closeSession(m_bus, m_session);
}

int PortalGlobalShortcuts::registerHotKey(quint32 carbonKeyCode, quint32 carbonModifiers, HotKeyId hotKeyId)
{
    const std::optional<QString> trigger = portalTrigger(carbonKeyCode, carbonModifiers);
    if (!trigger)
        return eventHotKeyInvalidErr;
    for (const Registration &registration : std::as_const(m_registrations)) {
        // One portal shortcut per combination: two registrations could not be told apart.
        if (registration.hotKeyId.id == hotKeyId.id || registration.trigger == *trigger)
            return registration.hotKeyId.id == hotKeyId.id ? paramErr : eventHotKeyExistsErr;
    }
    m_registrations.append({hotKeyId, *trigger, std::nullopt, false});
    scheduleBind();
    return noErr;
}

void PortalGlobalShortcuts::unregisterHotKey(quint32 id)
{
    const qsizetype removed = m_registrations.removeIf(
        [id](const Registration &registration) { return registration.hotKeyId.id == id; });
    if (removed > 0)
        scheduleBind();
}

int PortalGlobalShortcuts::installEventHandler(EventHandler handler)
{
    m_handler = std::move(handler);
    return noErr;
}

void PortalGlobalShortcuts::setHandlerListening(bool listening)
{
    m_listening = listening;
}

void PortalGlobalShortcuts::scheduleBind()
{
    // Every change of the same turn goes into one session: the start-up registrations, or an
    // unregister followed by a register when the user records a new shortcut.
    ++m_generation;
    if (m_bindScheduled)
        return;
    m_bindScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_bindScheduled = false;
        bind(m_generation);
    });
}

QCoro::Task<> PortalGlobalShortcuts::bind(quint64 generation)
{
    QPointer<PortalGlobalShortcuts> self(this);
    // A session binds once: changes need a new one, and the old one would keep its keys.
    closeSession(m_bus, m_session);
    m_session.clear();
    if (m_registrations.isEmpty())
        co_return;

    // Arguments are made before each co_await: g++ 12 miscompiles braced lists inside one.
    const QVariantMap sessionOptions {{QStringLiteral("session_handle_token"), newToken()}};
    const PortalResponse created
        = co_await request(m_bus, shortcutsInterface, QStringLiteral("CreateSession"), {}, sessionOptions);
    if (!self)
        co_return;
    const QString session = sessionHandle(created);
    if (generation != m_generation) {
        closeSession(m_bus, session);
        co_return;
    }
    if (!created.succeeded() || session.isEmpty()) {
        for (Registration &registration : m_registrations)
            settle(registration, eventInternalErr);
        co_return;
    }
    m_session = session;

    QList<PortalShortcut> wanted;
    for (const Registration &registration : std::as_const(m_registrations)) {
        wanted.append({registration.trigger,
            {{QStringLiteral("description"), QStringLiteral("Tarnwick: %1").arg(registration.trigger)},
                {QStringLiteral("preferred_trigger"), registration.trigger}}});
    }
    const QVariantList bindArguments {
        QVariant::fromValue(QDBusObjectPath(session)), QVariant::fromValue(wanted), QString()};
    const PortalResponse bound
        = co_await request(m_bus, shortcutsInterface, QStringLiteral("BindShortcuts"), bindArguments, {});
    if (!self || generation != m_generation)
        co_return;
    if (!bound.succeeded()) {
        // The user declined the portal's dialog, or the portal failed.
        for (Registration &registration : m_registrations)
            settle(registration,
                bound.code == PortalResponse::cancelled ? eventHotKeyExistsErr : eventInternalErr);
        co_return;
    }
    applyBoundShortcuts(shortcutList(bound.results.value(QStringLiteral("shortcuts"))));
}

void PortalGlobalShortcuts::applyBoundShortcuts(const QList<PortalShortcut> &shortcuts)
{
    for (Registration &registration : m_registrations) {
        // A shortcut the portal left without a trigger (taken, or removed by the user) does nothing.
        bool live = false;
        for (const PortalShortcut &shortcut : shortcuts) {
            if (shortcut.id == registration.trigger)
                live = !shortcut.properties.value(QStringLiteral("trigger_description")).toString().isEmpty();
        }
        settle(registration, live ? noErr : eventHotKeyExistsErr);
    }
}

void PortalGlobalShortcuts::settle(Registration &registration, int status)
{
    if (registration.status == status)
        return;
    registration.status = status;
    reportStatus(registration.hotKeyId, status);
}

void PortalGlobalShortcuts::onSignal(const QDBusMessage &message)
{
    const QVariantList arguments = message.arguments();
    const QString session = arguments.value(0).value<QDBusObjectPath>().path();
    if (session.isEmpty() || session != m_session)
        return;
    if (message.member() == QLatin1String("ShortcutsChanged")) {
        applyBoundShortcuts(shortcutList(arguments.value(1)));
        return;
    }
    const QString shortcutId = arguments.value(1).toString();
    const bool activated = message.member() == QLatin1String("Activated");
    for (Registration &registration : m_registrations) {
        // Some portals repeat Activated while the keys are held: one press is enough, and a
        // release needs its press.
        if (registration.trigger != shortcutId || registration.pressed == activated)
            continue;
        registration.pressed = activated;
        deliver(activated ? EventKind::hotKeyPressed : EventKind::hotKeyReleased, registration.hotKeyId);
        return;
    }
}

void PortalGlobalShortcuts::deliver(EventKind kind, HotKeyId hotKeyId)
{
    if (m_handler && m_listening)
        m_handler({kind, hotKeyId});
}

} // namespace Platform::Portal
