#pragma once

#include <QTest>

#include <QCoroTask>

#include <memory>
#include <optional>

namespace TestLib {

// The outcome of a task that a test started, filled in when the task completes. Shared, so that a
// task outliving the test's wait writes into memory that is still there.
template <typename T> using TaskSlot = std::shared_ptr<std::optional<T>>;

namespace detail {
template <typename T> QCoro::Task<> fill(QCoro::Task<T> task, TaskSlot<T> slot)
{
    *slot = co_await std::move(task);
}
inline QCoro::Task<> flag(QCoro::Task<> task, std::shared_ptr<bool> done)
{
    co_await std::move(task);
    *done = true;
}
} // namespace detail

// Starts awaiting `task`; the slot holds its result once it is done.
template <typename T> TaskSlot<T> track(QCoro::Task<T> task)
{
    auto slot = std::make_shared<std::optional<T>>();
    detail::fill(std::move(task), slot);
    return slot;
}

// Starts awaiting a task without a result; the flag turns true once it is done.
inline std::shared_ptr<bool> track(QCoro::Task<> task)
{
    auto done = std::make_shared<bool>(false);
    detail::flag(std::move(task), done);
    return done;
}

// Runs the event loop until `task` is done or `timeoutMs` of real time have passed.
template <typename T> std::optional<T> waitFor(QCoro::Task<T> task, int timeoutMs = 10000)
{
    TaskSlot<T> slot = track(std::move(task));
    (void)QTest::qWaitFor([&] { return slot->has_value(); }, timeoutMs);
    return *slot;
}

} // namespace TestLib
