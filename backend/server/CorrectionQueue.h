#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace Backend {

// Keeps large corrections from holding up small ones. Small texts are corrected at once on the
// calling thread. Large ones go to a few worker threads (one per slot), the shortest waiting text
// first, and those threads run at a lower priority: a small text that comes while they work takes
// a processor from them as soon as it needs one, and the large ones still use every processor that
// is otherwise idle.
class CorrectionQueue {
public:
    CorrectionQueue(std::size_t slots, std::size_t smallBytes);
    ~CorrectionQueue();
    CorrectionQueue(const CorrectionQueue &) = delete;
    CorrectionQueue &operator=(const CorrectionQueue &) = delete;

    // Runs `work` for a text of `bytes` bytes once its turn has come, and returns what it returns.
    template<class Work>
    auto run(std::size_t bytes, Work work) -> decltype(work())
    {
        if (bytes <= m_smallBytes)
            return work();
        std::packaged_task<decltype(work())()> task(std::move(work));
        auto result = task.get_future();
        submit(bytes, [&task] { task(); });
        return result.get();
    }

    struct Load {
        std::size_t running = 0, waiting = 0, done = 0; // large texts being corrected, waiting, corrected
    };
    Load load() const;

private:
    void submit(std::size_t bytes, std::function<void()> job);
    void work();

    const std::size_t m_smallBytes;
    mutable std::mutex m_mutex;
    std::condition_variable m_queued;
    std::map<std::pair<std::size_t, std::uint64_t>, std::function<void()>> m_jobs; // by (bytes, arrival)
    std::uint64_t m_arrivals = 0;
    std::size_t m_running = 0, m_done = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_workers;
};

} // namespace Backend
