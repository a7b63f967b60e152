#include "platform/kde/KGlobalAccelHotKeyService.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QTimer>

#include <algorithm>

namespace Platform::Kde {

namespace {

const QString globalAccelPath = QStringLiteral("/kglobalaccel");
const QString globalAccelInterface = QStringLiteral("org.kde.KGlobalAccel");
const QString componentInterface = QStringLiteral("org.kde.kglobalaccel.Component");

// setShortcut flags: mark the action present, and take our keys rather than the ones KDE stored
// for the action earlier (which it would otherwise answer with and keep).
constexpr uint setPresent = 2;
constexpr uint noAutoloading = 4;

// A blocking call must not hang the program on a stuck service.
constexpr int callTimeoutMs = 5000;

} // namespace

KGlobalAccelHotKeyService::KGlobalAccelHotKeyService(
    QDBusConnection bus, KeyCombination keyCombination, NamedShortcuts namedShortcuts)
    : m_bus(std::move(bus))
    , m_keyCombination(std::move(keyCombination))
    , m_namedShortcuts(std::move(namedShortcuts))
{
    qDBusRegisterMetaType<QList<int>>();
}

KGlobalAccelHotKeyService::~KGlobalAccelHotKeyService()
{
    for (const Registration &registration : std::as_const(m_registrations))
        removeAction(registration.action.unique);
}

std::optional<QVariantList> KGlobalAccelHotKeyService::call(
    const QString &path, const QString &interface, const QString &method, const QVariantList &arguments) const
{
    QDBusMessage message = QDBusMessage::createMethodCall(serviceName(), path, interface, method);
    message.setArguments(arguments);
    message.setAutoStartService(false);
    const QDBusMessage reply = m_bus.call(message, QDBus::Block, callTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        return std::nullopt;
    return reply.arguments();
}

std::optional<QDBusObjectPath> KGlobalAccelHotKeyService::componentPath() const
{
    const auto reply
        = call(globalAccelPath, globalAccelInterface, QStringLiteral("getComponent"), {componentName()});
    if (!reply || reply->isEmpty())
        return std::nullopt;
    return qvariant_cast<QDBusObjectPath>(reply->first());
}

void KGlobalAccelHotKeyService::removeLeftoverActions()
{
    if (m_leftoversRemoved)
        return;
    m_leftoversRemoved = true;
    const std::optional<QDBusObjectPath> component = componentPath();
    if (!component)
        return; // KDE does not know us yet
    const auto names = call(component->path(), componentInterface, QStringLiteral("shortcutNames"), {});
    const QStringList actions = names ? names->value(0).toStringList() : QStringList();
    for (const QString &action : actions)
        removeAction(action);
}

NamedShortcut KGlobalAccelHotKeyService::actionFor(const Registration &registration) const
{
    const std::pair keys {registration.carbonKeyCode, registration.carbonModifiers};
    const QList<NamedShortcut> named = m_namedShortcuts ? m_namedShortcuts() : QList<NamedShortcut>();
    for (const NamedShortcut &candidate : named) {
        // Two names with the same keys share one hot key, which takes the first name.
        const bool taken
            = std::any_of(m_registrations.cbegin(), m_registrations.cend(), [&](const Registration &other) {
                  return &other != &registration && other.action.unique == candidate.unique;
              });
        if (candidate.carbon == keys && !taken)
            return candidate;
    }
    const quint32 id = registration.hotKeyId.id;
    return {QStringLiteral("shortcut%1").arg(id), QStringLiteral("Shortcut %1").arg(id), keys};
}

int KGlobalAccelHotKeyService::setAction(const NamedShortcut &action, int keys)
{
    const QStringList id {componentName(), action.unique, QStringLiteral("Tarnwick"), action.friendly};
    if (!call(globalAccelPath, globalAccelInterface, QStringLiteral("doRegister"), {id}))
        return eventInternalErr;
    const auto granted = call(globalAccelPath, globalAccelInterface, QStringLiteral("setShortcut"),
        {id, QVariant::fromValue(QList<int> {keys}), setPresent | noAutoloading});
    // KDE answers with the keys the action has now: none when another component holds them.
    const int status = !granted                                          ? eventInternalErr
        : qdbus_cast<QList<int>>(granted->value(0)) != QList<int> {keys} ? eventHotKeyExistsErr
                                                                         : noErr;
    if (status != noErr)
        removeAction(action.unique);
    return status;
}

void KGlobalAccelHotKeyService::removeAction(const QString &action)
{
    call(globalAccelPath, globalAccelInterface, QStringLiteral("unregister"), {componentName(), action});
}

int KGlobalAccelHotKeyService::registerHotKey(
    quint32 carbonKeyCode, quint32 carbonModifiers, HotKeyId hotKeyId)
{
    for (const Registration &registration : std::as_const(m_registrations)) {
        if (registration.hotKeyId.id == hotKeyId.id)
            return paramErr;
    }
    const std::optional<int> keys
        = m_keyCombination ? m_keyCombination(carbonKeyCode, carbonModifiers) : std::nullopt;
    if (!keys)
        return eventHotKeyInvalidErr;

    removeLeftoverActions();
    Registration registration {hotKeyId, carbonKeyCode, carbonModifiers, *keys, {}};
    const NamedShortcut action = actionFor(registration);
    if (const int status = setAction(action, *keys); status != noErr)
        return status;
    registration.action = action;

    if (!m_signalsConnected) {
        const std::optional<QDBusObjectPath> component = componentPath();
        if (!component) {
            removeAction(action.unique);
            return eventInternalErr;
        }
        m_bus.connect(serviceName(), component->path(), componentInterface,
            QStringLiteral("globalShortcutPressed"), this, SLOT(onPressed(QString, QString, qlonglong)));
        m_bus.connect(serviceName(), component->path(), componentInterface,
            QStringLiteral("globalShortcutReleased"), this, SLOT(onReleased(QString, QString, qlonglong)));
        for (const QString &signal :
            {QStringLiteral("yourShortcutGotChanged"), QStringLiteral("yourShortcutsChanged")})
            m_bus.connect(serviceName(), globalAccelPath, globalAccelInterface, signal, this,
                SLOT(onShortcutChanged(QDBusMessage)));
        m_signalsConnected = true;
    }
    m_registrations.append(registration);
    return noErr;
}

bool KGlobalAccelHotKeyService::isReserved(qint64 carbonKeyCode, qint64 carbonModifiers)
{
    const auto fits = [](qint64 value) { return value >= 0 && value <= 0xffffffffLL; };
    if (!fits(carbonKeyCode) || !fits(carbonModifiers) || !m_keyCombination)
        return false;
    const std::optional<int> keys = m_keyCombination(quint32(carbonKeyCode), quint32(carbonModifiers));
    const bool ours = std::any_of(m_registrations.cbegin(), m_registrations.cend(),
        [&](const Registration &registration) { return registration.keys == keys; });
    if (!keys || ours)
        return false;
    const auto available = call(globalAccelPath, globalAccelInterface,
        QStringLiteral("isGlobalShortcutAvailable"), {*keys, componentName()});
    return available && !available->value(0).toBool();
}

void KGlobalAccelHotKeyService::refreshActionNames()
{
    for (Registration &registration : m_registrations) {
        const NamedShortcut action = actionFor(registration);
        if (action.unique == registration.action.unique)
            continue;
        // KDE gives keys to one action at a time: the old one lets go first.
        removeAction(registration.action.unique);
        if (setAction(action, registration.keys) == noErr) {
            registration.action = action;
            registration.pressed = false;
            registration.withdrawn = false;
        } else if (setAction(registration.action, registration.keys) != noErr && !registration.withdrawn) {
            // Someone took the keys in the moment they were free. Told from the event loop: we
            // may be inside a change of the shortcut store.
            registration.withdrawn = true;
            QTimer::singleShot(0, this, [this, id = registration.hotKeyId] {
                const bool registered = std::any_of(m_registrations.cbegin(), m_registrations.cend(),
                    [&](const Registration &other) { return other.hotKeyId == id && other.withdrawn; });
                if (registered)
                    reportStatus(id, eventHotKeyExistsErr);
            });
        }
    }
}

void KGlobalAccelHotKeyService::unregisterHotKey(quint32 id)
{
    for (qsizetype i = 0; i < m_registrations.size(); ++i) {
        if (m_registrations[i].hotKeyId.id == id) {
            removeAction(m_registrations.takeAt(i).action.unique);
            return;
        }
    }
}

int KGlobalAccelHotKeyService::installEventHandler(EventHandler handler)
{
    m_handler = std::move(handler);
    return noErr;
}

void KGlobalAccelHotKeyService::setHandlerListening(bool listening)
{
    m_listening = listening;
}

void KGlobalAccelHotKeyService::deliver(EventKind kind, const QString &action, bool press)
{
    for (Registration &registration : m_registrations) {
        if (registration.action.unique != action || registration.withdrawn)
            continue;
        // A held key repeats its press; a release without a press began before we registered.
        if (registration.pressed == press)
            return;
        registration.pressed = press;
        if (!m_listening || !m_handler)
            return;
        const EventHandler handler = m_handler; // it may replace itself or unregister this key
        handler({kind, registration.hotKeyId});
        return;
    }
}

void KGlobalAccelHotKeyService::onPressed(const QString &component, const QString &action, qlonglong)
{
    if (component == componentName())
        deliver(EventKind::hotKeyPressed, action, true);
}

void KGlobalAccelHotKeyService::onShortcutChanged(const QDBusMessage &message)
{
    const QStringList actionId = message.arguments().value(0).toStringList();
    if (actionId.value(0) != componentName())
        return;
    // The keys as KDE gives them: ints (yourShortcutGotChanged) or key sequences of up to four
    // ints each (yourShortcutsChanged, KF 5.90 on), of which we use single keys only.
    const QDBusArgument argument = message.arguments().value(1).value<QDBusArgument>();
    QList<int> keys;
    argument.beginArray();
    while (!argument.atEnd()) {
        if (argument.currentType() == QDBusArgument::BasicType) {
            int key = 0;
            argument >> key;
            keys.append(key);
            continue;
        }
        QList<int> sequence;
        argument.beginStructure();
        argument >> sequence;
        argument.endStructure();
        keys.append(sequence.value(0));
    }
    argument.endArray();

    for (Registration &registration : m_registrations) {
        if (registration.action.unique != actionId.value(1))
            continue;
        const bool withdrawn = !keys.contains(registration.keys);
        if (withdrawn == registration.withdrawn)
            return;
        registration.withdrawn = withdrawn;
        registration.pressed = false;
        reportStatus(registration.hotKeyId, withdrawn ? eventHotKeyExistsErr : noErr);
        return;
    }
}

void KGlobalAccelHotKeyService::onReleased(const QString &component, const QString &action, qlonglong)
{
    if (component == componentName())
        deliver(EventKind::hotKeyReleased, action, false);
}

} // namespace Platform::Kde
