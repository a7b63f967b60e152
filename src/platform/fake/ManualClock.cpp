#include "platform/fake/ManualClock.h"

namespace Platform {

class ManualClock::Handle final : public Timer {
public:
    Handle(ManualClock &clock, std::shared_ptr<Entry> entry)
        : m_clock(clock)
        , m_entry(std::move(entry))
    {
    }
    ~Handle() override
    {
        for (auto it = m_clock.m_timers.begin(); it != m_clock.m_timers.end(); ++it) {
            if (it->second == m_entry) {
                m_clock.m_timers.erase(it);
                break;
            }
        }
        m_entry->callback = nullptr;
    }

private:
    ManualClock &m_clock;
    std::shared_ptr<Entry> m_entry;
};

TimerPtr ManualClock::add(Duration delay, bool repeating, std::function<void()> callback)
{
    auto entry = std::make_shared<Entry>(Entry {delay, repeating, std::move(callback)});
    m_timers.emplace(Key {m_now + std::max(delay, Duration(0)), m_sequence++}, entry);
    return std::make_unique<Handle>(*this, std::move(entry));
}

TimerPtr ManualClock::singleShot(Duration delay, std::function<void()> callback)
{
    return add(delay, false, std::move(callback));
}

TimerPtr ManualClock::repeating(Duration interval, std::function<void()> callback)
{
    // A zero interval would never let time move on.
    return add(std::max(interval, Duration(1)), true, std::move(callback));
}

void ManualClock::advance(Duration delta)
{
    const Duration target = m_now + delta;
    while (!m_timers.empty() && m_timers.begin()->first.first <= target) {
        auto node = m_timers.extract(m_timers.begin());
        std::shared_ptr<Entry> entry = node.mapped();
        m_now = node.key().first;
        if (entry->repeating)
            m_timers.emplace(Key {m_now + entry->interval, m_sequence++}, entry);
        // Copy: the callback may drop its own handle.
        if (auto callback = entry->callback)
            callback();
    }
    m_now = target;
}

std::optional<Clock::Duration> ManualClock::nextDue() const
{
    if (m_timers.empty())
        return std::nullopt;
    return m_timers.begin()->first.first;
}

} // namespace Platform
