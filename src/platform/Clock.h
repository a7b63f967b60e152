#pragma once

#include <chrono>
#include <coroutine>
#include <functional>
#include <memory>

namespace Platform {

// A running timer; destroying it cancels the timer (safe from inside its own callback).
class Timer {
public:
    virtual ~Timer() = default;
};
using TimerPtr = std::unique_ptr<Timer>;

// Monotonic time and timers on the main thread. Everything that waits goes through here so that
// tests can run the waits in virtual time.
class Clock {
public:
    using Duration = std::chrono::milliseconds;

    virtual ~Clock() = default;

    // Monotonic time since an arbitrary origin; never goes backwards.
    virtual Duration now() const = 0;

    // Calls `callback` once on the main thread after at least `delay`, unless the handle is dropped first.
    [[nodiscard]] virtual TimerPtr singleShot(Duration delay, std::function<void()> callback) = 0;

    // Calls `callback` on the main thread every `interval` until the handle is dropped.
    [[nodiscard]] virtual TimerPtr repeating(Duration interval, std::function<void()> callback) = 0;

    // Awaitable: suspends the calling coroutine for at least `delay` (`co_await clock.sleep(d)`).
    class SleepAwaiter {
    public:
        SleepAwaiter(Clock &clock, Duration delay)
            : m_clock(clock)
            , m_delay(delay)
        {
        }
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle)
        {
            m_timer = m_clock.singleShot(m_delay, [handle] { handle.resume(); });
        }
        void await_resume() noexcept { }

    private:
        Clock &m_clock;
        Duration m_delay;
        TimerPtr m_timer;
    };
    [[nodiscard]] SleepAwaiter sleep(Duration delay) { return SleepAwaiter(*this, delay); }
};

} // namespace Platform
