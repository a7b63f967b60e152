#pragma once

#include <QString>

namespace Platform {

// Short messages in the desktop's notification area.
class DesktopNotifier {
public:
    virtual ~DesktopNotifier() = default;

    // Shows `summary` with `body`, replacing the message we showed last if it is still up.
    // Returns at once; when the desktop has no notification service, nothing is shown and
    // nothing is reported. Main thread only.
    virtual void notify(const QString &summary, const QString &body) = 0;
};

} // namespace Platform
