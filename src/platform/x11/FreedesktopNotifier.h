#pragma once

#include "platform/DesktopNotifier.h"

#include <QDBusConnection>
#include <QObject>

namespace Platform::X11 {

// Notifications through the desktop's org.freedesktop.Notifications service on the session bus.
// Calls are asynchronous: a missing bus or service costs nothing and is not reported.
class FreedesktopNotifier final : public QObject, public DesktopNotifier {
    Q_OBJECT

public:
    // `appName` is the application name the notification server shows.
    explicit FreedesktopNotifier(const QString &appName, QObject *parent = nullptr);
    // The same on a given bus connection (tests use a private bus).
    FreedesktopNotifier(const QString &appName, const QDBusConnection &bus, QObject *parent = nullptr);

    void notify(const QString &summary, const QString &body) override;

    // The id the server gave our last notification, 0 before any answer.
    quint32 lastId() const { return m_lastId; }

private:
    QString m_appName;
    QDBusConnection m_bus;
    quint32 m_lastId = 0;
};

} // namespace Platform::X11
