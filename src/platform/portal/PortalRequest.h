#pragma once

#include <QDBusArgument>
#include <QDBusConnection>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <QCoroTask>

namespace Platform::Portal {

// The desktop portal's frontend on the session bus.
inline const QString desktopService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// What a portal answered through its Request object, or why it could not answer.
struct PortalResponse {
    // The portal's response codes: granted, cancelled by the user, ended otherwise.
    static constexpr quint32 success = 0;
    static constexpr quint32 cancelled = 1;
    static constexpr quint32 other = 2;

    quint32 code = other;
    QVariantMap results;
    // The D-Bus error of the call itself, or that the portal went away; empty when it answered.
    QString error;

    bool succeeded() const { return code == success && error.isEmpty(); }
};

// One entry of the GlobalShortcuts portal's a(sa{sv}) lists: a shortcut id and its properties.
struct PortalShortcut {
    QString id;
    QVariantMap properties;
    bool operator==(const PortalShortcut &) const = default;
};
QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut);
const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut);
// Registers PortalShortcut and its list with QtDBus; call once before using them (idempotent).
void registerPortalTypes();

// A fresh token for handle_token or session_handle_token, unique within this process.
QString newToken();

// Calls `method` of `interface` on the frontend with `arguments` followed by `options` (to which
// a handle_token is added) and waits for the Request's Response, however long the user takes.
// Listens before calling, so that no answer is missed; ends with an error when the call fails or
// the portal leaves the bus. Main thread; `bus` must stay connected.
QCoro::Task<PortalResponse> request(
    QDBusConnection bus, QString interface, QString method, QVariantList arguments, QVariantMap options);

// The session handle of a CreateSession response (sent as an object path or, by older
// frontends, as a string); empty when there is none.
QString sessionHandle(const PortalResponse &response);

// Closes a portal session; the answer is not waited for.
void closeSession(QDBusConnection bus, const QString &session);

} // namespace Platform::Portal

Q_DECLARE_METATYPE(Platform::Portal::PortalShortcut)
