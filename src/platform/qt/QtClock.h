#pragma once

#include "platform/Clock.h"

namespace Platform {

// The real clock: Qt's precise timers on the calling thread's event loop.
class QtClock final : public Clock {
public:
    Duration now() const override;
    TimerPtr singleShot(Duration delay, std::function<void()> callback) override;
    TimerPtr repeating(Duration interval, std::function<void()> callback) override;
};

} // namespace Platform
