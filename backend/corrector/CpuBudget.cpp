#include "CpuBudget.h"

#include <ctime>

namespace Backend {

std::chrono::nanoseconds threadCpuTime()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

CpuDeadline::CpuDeadline(std::chrono::nanoseconds budget)
    : m_limited(budget > std::chrono::nanoseconds::zero())
{
    if (m_limited)
        m_end = threadCpuTime() + budget;
}

bool CpuDeadline::passed()
{
    if (m_limited && !m_passed)
        m_passed = threadCpuTime() >= m_end;
    return m_passed;
}

} // namespace Backend
