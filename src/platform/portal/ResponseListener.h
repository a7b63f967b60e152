#pragma once

#include "platform/portal/PortalRequest.h"

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>

namespace Platform::Portal {

// Hears the Response of one Request object, or the frontend leaving the bus.
class ResponseListener : public QObject {
    Q_OBJECT

public:
    explicit ResponseListener(QDBusConnection bus)
        : m_bus(std::move(bus))
        , m_watcher(desktopService, m_bus, QDBusServiceWatcher::WatchForUnregistration)
    {
        connect(&m_watcher, &QDBusServiceWatcher::serviceUnregistered, this, [this] {
            finish({PortalResponse::other, {}, QStringLiteral("The desktop portal stopped")});
        });
    }
    ~ResponseListener() override { listen({}); }

    // Listens to the Request object at `path` (and stops listening to the previous one).
    void listen(const QString &path)
    {
        if (!m_path.isEmpty())
            m_bus.disconnect(desktopService, m_path, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
        m_path = path;
        if (!m_path.isEmpty())
            m_bus.connect(desktopService, m_path, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));
    }
    const QString &path() const { return m_path; }

    void finish(const PortalResponse &response)
    {
        if (m_done)
            return;
        m_done = true;
        m_response = response;
        Q_EMIT finished();
    }
    bool isDone() const { return m_done; }
    const PortalResponse &response() const { return m_response; }

Q_SIGNALS:
    void finished();

private Q_SLOTS:
    void onResponse(uint code, const QVariantMap &results) { finish({code, results, {}}); }

private:
    QDBusConnection m_bus;
    QDBusServiceWatcher m_watcher;
    QString m_path;
    bool m_done = false;
    PortalResponse m_response;
};

} // namespace Platform::Portal
