#include "platform/x11/FreedesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>

namespace Platform::X11 {

namespace {

// How long a notification stays up, in milliseconds: long enough to read it and switch back to
// the terminal.
constexpr int expireTimeoutMs = 8000;

} // namespace

FreedesktopNotifier::FreedesktopNotifier(const QString &appName, QObject *parent)
    : FreedesktopNotifier(appName, QDBusConnection::sessionBus(), parent)
{
}

FreedesktopNotifier::FreedesktopNotifier(const QString &appName, const QDBusConnection &bus, QObject *parent)
    : QObject(parent)
    , m_appName(appName)
    , m_bus(bus)
{
}

void FreedesktopNotifier::notify(const QString &summary, const QString &body)
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"), QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("Notify"));
    // Transient: the message concerns this moment only and need not stay in the history.
    const QVariantMap hints {{QStringLiteral("transient"), true}};
    call << m_appName << m_lastId << QString() << summary << body << QStringList() << hints
         << expireTimeoutMs;
    // Without a service, the bus answers with an error (at the latest after its timeout), which
    // the watcher drops; the caller never waits.
    auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *finished) {
        const QDBusPendingReply<quint32> reply = *finished;
        if (reply.isValid() && !reply.isError())
            m_lastId = reply.value();
        finished->deleteLater();
    });
}

} // namespace Platform::X11
