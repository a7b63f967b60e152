#include "platform/qt/Notices.h"

namespace Platform {

void Notices::set(const Notice &notice)
{
    for (Notice &existing : m_notices) {
        if (existing.id != notice.id)
            continue;
        if (existing == notice)
            return;
        existing = notice;
        Q_EMIT changed();
        return;
    }
    m_notices.append(notice);
    Q_EMIT changed();
}

void Notices::clear(const QString &id)
{
    if (m_notices.removeIf([&id](const Notice &notice) { return notice.id == id; }) > 0)
        Q_EMIT changed();
}

} // namespace Platform
