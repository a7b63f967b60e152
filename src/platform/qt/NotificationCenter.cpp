#include "platform/qt/NotificationCenter.h"

#include <algorithm>

namespace Platform {

class NotificationCenter::EntryToken final : public Token {
public:
    EntryToken(NotificationCenter &centre, std::shared_ptr<Entry> entry)
        : m_centre(centre)
        , m_entry(std::move(entry))
    {
    }
    ~EntryToken() override
    {
        m_entry->alive = false;
        auto &entries = m_centre.m_entries;
        entries.erase(std::remove(entries.begin(), entries.end(), m_entry), entries.end());
    }

private:
    NotificationCenter &m_centre;
    std::shared_ptr<Entry> m_entry;
};

NotificationCenter &NotificationCenter::defaultCenter()
{
    // Never destroyed: observations held by other process-wide objects end during exit, in an
    // order nobody controls, and must still find the centre.
    static NotificationCenter *const centre = new NotificationCenter;
    return *centre;
}

NotificationCenter::TokenPtr NotificationCenter::addObserver(const QString &name, Observer observer)
{
    auto entry = std::make_shared<Entry>(Entry {name, std::move(observer), true});
    m_entries.push_back(entry);
    return std::make_unique<EntryToken>(*this, std::move(entry));
}

void NotificationCenter::post(const QString &name, const UserInfo &userInfo)
{
    // A snapshot, so that observers may add or drop observations while we deliver.
    std::vector<std::shared_ptr<Entry>> snapshot;
    for (const auto &entry : m_entries) {
        if (entry->name == name)
            snapshot.push_back(entry);
    }
    for (const auto &entry : snapshot) {
        if (entry->alive) {
            const Observer observer = entry->observer; // may outlive the entry's token
            observer(userInfo);
        }
    }
}

int NotificationCenter::observerCount(const QString &name) const
{
    return int(
        std::count_if(m_entries.begin(), m_entries.end(), [&](const auto &e) { return e->name == name; }));
}

} // namespace Platform
