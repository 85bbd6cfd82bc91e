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

/// What the idle workers of a pool wait in: I/O, with what arrives handled by the worker it wakes.
class Poller
{
  public:
    virtual ~Poller() = default;
    /// Waits for events (or interrupt()) and handles them. Any number of workers at once.
    virtual void poll_once() = 0;
    /// Wakes one worker waiting in poll_once(); any thread.
    virtual void interrupt() = 0;
};

/// A fixed set of worker threads running posted tasks in posting order (first come, first run).
///
/// With a poller, idle workers wait for I/O instead of sleeping. A worker that the I/O woke runs
/// the work it brought itself, so a request is read and answered on one thread without waking
/// another; a worker takes a task only while another one still waits for I/O, so some worker
/// always does, whatever the tasks do (the tasks wait for a free worker otherwise).
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
    /// Gives the workers a poller to take turns at (or none). Call before any task is posted.
    void set_poller(Poller* poller);
    /// Lets the workers finish the queue and end; join() waits for them. Any thread but a worker.
    void stop();
    void join();

  private:
    void work();

    // Guards the members below: met by every posting thread and the workers.
    mutable std::mutex m_mutex;
    std::condition_variable m_task_posted;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping{false};
    Poller* m_poller{nullptr};
    // Workers inside the poller's poll_once() (waiting for I/O or handling it).
    std::size_t m_polling{0};
    // Workers waiting on m_task_posted (a pool without a poller).
    std::size_t m_sleeping{0};
    std::vector<std::thread> m_workers;
};

} // namespace kest::com
