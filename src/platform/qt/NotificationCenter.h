#pragma once

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <vector>

namespace Platform {

// Named notifications with a user-info map, delivered synchronously on the main thread.
class NotificationCenter {
public:
    using UserInfo = QVariantMap;
    using Observer = std::function<void(const UserInfo &)>;

    // Keeps an observation alive; dropping it ends the observation (also during a post).
    class Token {
    public:
        virtual ~Token() = default;
    };
    using TokenPtr = std::unique_ptr<Token>;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter &) = delete;
    NotificationCenter &operator=(const NotificationCenter &) = delete;

    // The process-wide centre.
    static NotificationCenter &defaultCenter();

    // Calls `observer` for every later post of `name` until the token is dropped.
    [[nodiscard]] TokenPtr addObserver(const QString &name, Observer observer);

    // Calls the observers of `name` in the order they were added. Observers added during the
    // post are not called for it; observers removed during it are not called any more.
    void post(const QString &name, const UserInfo &userInfo = {});

    // Number of live observations of `name` (for tests and diagnostics).
    int observerCount(const QString &name) const;

private:
    struct Entry {
        QString name;
        Observer observer;
        bool alive = true;
    };
    class EntryToken;
    std::vector<std::shared_ptr<Entry>> m_entries;
};

} // namespace Platform
