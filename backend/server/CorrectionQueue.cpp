#include "CorrectionQueue.h"

#include <algorithm>
#include <sys/resource.h>
#include <unistd.h>

namespace Backend {

namespace {

// How much nicer the workers are than the rest of the process: a small text's thread gets about
// three times their share of a processor they both want, and preempts them when it wakes.
constexpr int kWorkerNiceness = 5;

} // namespace

CorrectionQueue::CorrectionQueue(std::size_t slots, std::size_t smallBytes) : m_smallBytes(smallBytes)
{
    for (std::size_t i = 0; i < std::max<std::size_t>(slots, 1); ++i)
        m_workers.emplace_back([this] { work(); });
}

CorrectionQueue::~CorrectionQueue()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_queued.notify_all();
    for (std::thread &worker : m_workers)
        worker.join();
}

CorrectionQueue::Load CorrectionQueue::load() const
{
    std::lock_guard lock(m_mutex);
    return {m_running, m_jobs.size(), m_done};
}

void CorrectionQueue::submit(std::size_t bytes, std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        m_jobs.emplace(std::pair(bytes, m_arrivals++), std::move(job));
    }
    m_queued.notify_one();
}

void CorrectionQueue::work()
{
    // On Linux a thread's nice value is its own. Lowering the priority needs no privilege; where
    // it fails the queue still keeps large texts to their slots.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), std::min(getpriority(PRIO_PROCESS, 0) + kWorkerNiceness, 19));
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_queued.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        // Jobs still queued when stopping are done: their callers wait for them.
        if (m_jobs.empty())
            return;
        std::function<void()> job = std::move(m_jobs.begin()->second);
        m_jobs.erase(m_jobs.begin());
        ++m_running;
        lock.unlock();
        job();
        lock.lock();
        --m_running;
        ++m_done;
    }
}

} // namespace Backend
