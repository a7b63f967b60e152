#pragma once

#include "platform/DesktopNotifier.h"

#include <QList>

namespace Platform {

// Records the notifications instead of showing them.
class FakeDesktopNotifier final : public DesktopNotifier {
public:
    struct Notification {
        QString summary;
        QString body;
        bool operator==(const Notification &) const = default;
    };

    void notify(const QString &summary, const QString &body) override { m_shown.append({summary, body}); }

    const QList<Notification> &shown() const { return m_shown; }

private:
    QList<Notification> m_shown;
};

} // namespace Platform
