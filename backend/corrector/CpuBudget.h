#pragma once

#include <chrono>

namespace Backend {

// The processor time used so far by the calling thread (CLOCK_THREAD_CPUTIME_ID). Requests run on a
// pool of threads: each one is charged for its own work only, not for its neighbours' or for time
// spent waiting for a core.
std::chrono::nanoseconds threadCpuTime();

// A limit on the calling thread's processor time from now on. Reading the clock is a system call
// of a fraction of a microsecond: callers ask before costly steps, not for every character.
class CpuDeadline {
public:
    // No limit.
    CpuDeadline() = default;
    // `budget` from now; zero or less means no limit.
    explicit CpuDeadline(std::chrono::nanoseconds budget);

    // True once the thread has used up the budget; stays true afterwards.
    bool passed();

private:
    bool m_limited = false;
    bool m_passed = false;
    std::chrono::nanoseconds m_end {};
};

} // namespace Backend
