#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kest::com
{

/// A fixed set of worker threads running posted tasks in posting order (first come, first run).
class static_thread_pool
{
  public:
    explicit static_thread_pool(std::size_t threads);
    /// Stops taking tasks, runs what is queued, and joins the workers.
    ~static_thread_pool();

    static_thread_pool(const static_thread_pool&) = delete;
    static_thread_pool& operator=(const static_thread_pool&) = delete;

    /// Queues a task; any thread. Tasks posted after stop() are dropped.
    void post(std::function<void()> task);
    /// True on one of this pool's workers.
    bool running_in_this_thread() const;
    std::size_t size() const noexcept { return m_workers.size(); }
    /// Lets the workers finish the queue and end; join() waits for them. Any thread but a worker.
    void stop();
    void join();

  private:
    void work();

    // Guards m_tasks and m_stopping: met by every posting thread and the workers.
    mutable std::mutex m_mutex;
    std::condition_variable m_task_posted;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping{false};
    std::vector<std::thread> m_workers;
};

} // namespace kest::com
