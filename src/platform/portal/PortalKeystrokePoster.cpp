#include "platform/portal/PortalKeystrokePoster.h"

#include "platform/Clock.h"
#include "platform/qt/Notices.h"
#include "platform/UserDefaults.h"
#include "platform/portal/KeySymbols.h"
#include "platform/portal/PortalRequest.h"
#include "platform/x11/KeyCodeMap.h"
#include "platform/x11/X11AccessibilityTrust.h"

#include <QCoroDBus>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDesktopServices>
#include <QPointer>
#include <QUrl>

#include <utility>

namespace Platform::Portal {

namespace {

const QString remoteDesktopInterface = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr quint32 keyboardDevice = 1;
// Version 2: remember the grant until the user revokes it.
constexpr quint32 persistUntilRevoked = 2;

} // namespace

PortalKeystrokePoster::PortalKeystrokePoster(Clock &clock, UserDefaults &defaults, Notices &notices,
    quint32 version, QDBusConnection bus, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_defaults(defaults)
    , m_notices(notices)
    , m_version(version)
    , m_bus(std::move(bus))
{
    setState(State::NotAsked);
}

PortalKeystrokePoster::~PortalKeystrokePoster()
{
    *m_alive = false;
    closeSession(m_bus, m_session);
    m_notices.clear(noticeId());
}

bool PortalKeystrokePoster::wasAllowedBefore() const
{
    if (m_version >= 2 && !m_defaults.value(restoreTokenKey()).toString().isEmpty())
        return true;
    return m_defaults.boolValue(grantedKey());
}

void PortalKeystrokePoster::start()
{
    if (m_state == State::Asking || m_state == State::Allowed)
        return;
    makeSession();
}

bool PortalKeystrokePoster::requestTrust()
{
    start();
    return isProcessTrusted();
}

void PortalKeystrokePoster::openSystemSettings()
{
    const QString path = X11::X11AccessibilityTrust::helpPagePath();
    if (!path.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void PortalKeystrokePoster::setState(State state, const QString &failure)
{
    m_state = state;
    // The dialog says "remote desktop", which is not what anybody expects from Tarnwick: the
    // notice says what it is for, before it appears and while it is up.
    const QString askAgain = QStringLiteral("Press \"Request\" in Settings to be asked again.");
    switch (state) {
    case State::NotAsked:
        m_notices.set({noticeId(),
            QStringLiteral("Tarnwick may not type Ctrl+C and Ctrl+V into other windows yet."),
            QStringLiteral("Press \"Request\" in Settings: the desktop then asks in a remote desktop dialog "
                           "whether Tarnwick may use the keyboard (only the keyboard, never the screen). %1")
                .arg(m_version >= 2 ? QStringLiteral("It asks once.")
                                    : QStringLiteral("This desktop asks again each time Tarnwick starts."))});
        break;
    case State::Asking:
        m_notices.set({noticeId(),
            QStringLiteral("The desktop is asking whether Tarnwick may type into other windows."),
            QStringLiteral(
                "Allow it in the remote desktop dialog: Tarnwick uses it to copy and paste, with the "
                "keyboard only.")});
        break;
    case State::Allowed:
        m_notices.clear(noticeId());
        break;
    case State::Refused:
        m_notices.set(
            {noticeId(), QStringLiteral("Keystrokes are not allowed: the permission dialog was refused."),
                QStringLiteral("Without them Tarnwick cannot copy or paste. ") + askAgain});
        break;
    case State::Failed:
        m_notices.set({noticeId(), QStringLiteral("Keystrokes are not allowed: %1").arg(failure), askAgain});
        break;
    case State::Closed:
        m_notices.set({noticeId(),
            QStringLiteral("Keystrokes are no longer allowed: the desktop ended the session."), askAgain});
        break;
    }
    Q_EMIT stateChanged(state);
}

QCoro::Task<> PortalKeystrokePoster::makeSession()
{
    QPointer<PortalKeystrokePoster> self(this);
    setState(State::Asking);
    // Arguments are made before each co_await: g++ 12 miscompiles braced lists inside one.
    const QVariantMap sessionOptions {{QStringLiteral("session_handle_token"), newToken()}};
    const PortalResponse created = co_await request(
        m_bus, remoteDesktopInterface, QStringLiteral("CreateSession"), {}, sessionOptions);
    if (!self)
        co_return;
    const QString session = sessionHandle(created);
    if (!created.succeeded() || session.isEmpty()) {
        setState(State::Failed,
            QStringLiteral("the desktop portal could not make a session. %1").arg(created.error));
        co_return;
    }
    m_session = session;
    m_bus.connect(
        desktopService, session, sessionInterface, QStringLiteral("Closed"), this, SLOT(onSessionClosed()));

    QVariantMap devices {{QStringLiteral("types"), keyboardDevice}};
    if (m_version >= 2) {
        devices.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
        const QString token = m_defaults.value(restoreTokenKey()).toString();
        if (!token.isEmpty())
            devices.insert(QStringLiteral("restore_token"), token);
    }
    const QVariantList selectArguments {QVariant::fromValue(QDBusObjectPath(session))};
    const QVariantList startArguments {selectArguments.first(), QString()};
    const PortalResponse selected = co_await request(
        m_bus, remoteDesktopInterface, QStringLiteral("SelectDevices"), selectArguments, devices);
    if (!self)
        co_return;
    PortalResponse started = selected;
    if (selected.succeeded()) {
        started
            = co_await request(m_bus, remoteDesktopInterface, QStringLiteral("Start"), startArguments, {});
        if (!self)
            co_return;
    }

    if (started.code == PortalResponse::cancelled && started.error.isEmpty()) {
        // Not asked again at the next start: only when the user presses "Request".
        m_defaults.remove(restoreTokenKey());
        m_defaults.remove(grantedKey());
        closeSession(m_bus, std::exchange(m_session, QString()));
        setState(State::Refused);
        co_return;
    }
    const quint32 granted = started.results.value(QStringLiteral("devices")).toUInt();
    if (!started.succeeded() || !(granted & keyboardDevice)) {
        closeSession(m_bus, std::exchange(m_session, QString()));
        setState(State::Failed,
            started.succeeded()
                ? QStringLiteral("the desktop did not grant the keyboard.")
                : QStringLiteral("the desktop portal did not start the session. %1").arg(started.error));
        co_return;
    }
    const QString token = started.results.value(QStringLiteral("restore_token")).toString();
    if (m_version >= 2 && !token.isEmpty())
        m_defaults.setValue(restoreTokenKey(), token);
    m_defaults.setValue(grantedKey(), true);
    setState(State::Allowed);
}

void PortalKeystrokePoster::onSessionClosed()
{
    m_session.clear();
    setState(State::Closed);
}

QCoro::Task<bool> PortalKeystrokePoster::notifyKeysym(
    QDBusConnection bus, QString session, quint32 keysym, bool pressed)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        desktopService, desktopPath, remoteDesktopInterface, QStringLiteral("NotifyKeyboardKeysym"));
    call.setArguments({QVariant::fromValue(QDBusObjectPath(session)), QVariantMap(), qint32(keysym),
        quint32(pressed ? 1 : 0)});
    const QDBusMessage reply = co_await bus.asyncCall(call);
    co_return reply.type() == QDBusMessage::ReplyMessage;
}

QCoro::Task<> PortalKeystrokePoster::postKeystroke(quint16 keyCode, quint64 flags)
{
    const std::optional<quint32> keysym = X11::keysymForMacKeyCode(keyCode);
    if (!keysym || m_state != State::Allowed)
        co_return;
    // The portal cannot say which keys are held: give the fingers on the shortcut time to lift,
    // or the target sees Ctrl+Shift+C where we mean Ctrl+C.
    const std::shared_ptr<bool> alive = m_alive;
    co_await m_clock.sleep(modifierWait);
    if (!*alive || m_state != State::Allowed)
        co_return;

    // The frontend handles each call on a thread of its own, so calls sent together can overtake
    // each other: each event waits for the answer to the one before. Whatever was pressed is
    // released, unless we are gone, and with us the session, which lets go of its keys.
    const QDBusConnection bus = m_bus;
    const QString session = m_session;
    QList<quint32> keys = modifierKeysyms(flags);
    keys.append(*keysym);
    QList<quint32> pressed;
    for (const quint32 key : std::as_const(keys)) {
        const bool sent = co_await notifyKeysym(bus, session, key, true);
        if (!*alive)
            co_return;
        if (!sent)
            break;
        pressed.prepend(key);
    }
    for (const quint32 key : std::as_const(pressed)) {
        co_await notifyKeysym(bus, session, key, false);
        if (!*alive)
            co_return;
    }
}

} // namespace Platform::Portal
