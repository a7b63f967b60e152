#include "platform/portal/PortalRequest.h"

#include "platform/portal/ResponseListener.h"

#include <QCoroDBus>
#include <QCoroSignal>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>

namespace Platform::Portal {

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

void registerPortalTypes()
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
}

QString newToken()
{
    static quint32 counter = 0;
    return QStringLiteral("tarnwick%1").arg(++counter);
}

QCoro::Task<PortalResponse> request(
    QDBusConnection bus, QString interface, QString method, QVariantList arguments, QVariantMap options)
{
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    // The frontend names the Request after our unique name and the token: ":1.42" gives
    // /org/freedesktop/portal/desktop/request/1_42/<token>.
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    ResponseListener listener(bus);
    listener.listen(desktopPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token);

    QDBusMessage call = QDBusMessage::createMethodCall(desktopService, desktopPath, interface, method);
    arguments.append(options);
    call.setArguments(arguments);
    const QDBusMessage reply = co_await bus.asyncCall(call);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        listener.finish({PortalResponse::other, {}, reply.errorMessage()});
        co_return listener.response();
    }
    // Frontends older than the handle_token convention choose the path themselves.
    const QString path = reply.arguments().value(0).value<QDBusObjectPath>().path();
    if (!path.isEmpty() && path != listener.path() && !listener.isDone())
        listener.listen(path);
    if (!listener.isDone())
        co_await qCoro(&listener, &ResponseListener::finished);
    co_return listener.response();
}

QString sessionHandle(const PortalResponse &response)
{
    const QVariant handle = response.results.value(QStringLiteral("session_handle"));
    if (handle.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return handle.value<QDBusObjectPath>().path();
    return handle.toString();
}

void closeSession(QDBusConnection bus, const QString &session)
{
    if (session.isEmpty() || !bus.isConnected())
        return;
    bus.asyncCall(
        QDBusMessage::createMethodCall(desktopService, session, sessionInterface, QStringLiteral("Close")));
}

} // namespace Platform::Portal
