#pragma once

#include "platform/Clock.h"

#include <QtGlobal>

#include <map>
#include <optional>

namespace Platform {

// A clock that only moves when told to: tests advance it and the due timers fire in order.
class ManualClock final : public Clock {
public:
    Duration now() const override { return m_now; }
    TimerPtr singleShot(Duration delay, std::function<void()> callback) override;
    TimerPtr repeating(Duration interval, std::function<void()> callback) override;

    // Moves time forward by `delta`, firing every timer that falls due on the way, in order of
    // their due time (and of creation for equal times), with now() set to each one's due time.
    void advance(Duration delta);

    // Fires whatever is due now without moving time.
    void runDue() { advance(Duration(0)); }

    // Number of live timers.
    int pendingTimers() const { return int(m_timers.size()); }

    // Due time of the earliest live timer, or nothing.
    std::optional<Duration> nextDue() const;

private:
    struct Entry {
        Duration interval;
        bool repeating;
        std::function<void()> callback;
    };
    class Handle;
    using Key = std::pair<Duration, quint64>; // due time, creation sequence
    TimerPtr add(Duration delay, bool repeating, std::function<void()> callback);

    Duration m_now {0};
    quint64 m_sequence = 0;
    std::map<Key, std::shared_ptr<Entry>> m_timers;
};

} // namespace Platform
