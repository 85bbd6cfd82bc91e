#pragma once

#include "clock.hpp"
#include "kest/com/static_thread_pool.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <queue>
#include <thread>
#include <unordered_map>
#include <vector>

namespace kest::com::internal
{

/// Something the I/O thread serves: a socket, the inotify descriptor, a process descriptor.
class Io_handler
{
  public:
    virtual ~Io_handler() = default;
    /// On the I/O thread with the epoll events of the descriptor.
    virtual void on_io(std::uint32_t events) = 0;
};

/// Something with deadlines (a port with calls waiting for replies).
class Deadline_target
{
  public:
    virtual ~Deadline_target() = default;
    /// On the I/O thread when the deadline registered with this tag has passed.
    virtual void on_deadline(std::uint64_t tag) = 0;
};

/// One epoll loop: descriptor events, posted tasks and deadlines, run by the workers of the
/// runtime's pool. Every idle worker waits in poll_once() on the same epoll set; the kernel wakes one
/// of them per event, so whoever handles a request was already waiting for it and no thread is
/// woken just to hand work on. Handling is serialised by the turn: "the I/O thread" is whichever
/// worker holds it, and everything it runs is as ordered as on one thread. Each descriptor is
/// reported to one worker at a time (one-shot, re-armed after it is handled).
class Io_loop : public Poller
{
  public:
    Io_loop();
    ~Io_loop() override;

    Io_loop(const Io_loop&) = delete;
    Io_loop& operator=(const Io_loop&) = delete;

    /// Waits for events, then, holding the turn, handles them and runs the posted tasks and the
    /// deadlines that have passed. Any number of workers at once.
    void poll_once() override;
    /// Wakes one waiting worker; any thread.
    void interrupt() override { wake(); }
    /// Ends the loop once its workers are gone: runs the tasks still queued on the calling thread.
    void stop();

    /// Watches fd; any thread.
    void add(int fd, std::uint32_t events, std::shared_ptr<Io_handler> handler);
    void modify(int fd, std::uint32_t events);
    /// Stops watching fd; closing it is the caller's (on the I/O thread, so events never reach a reused fd).
    void remove(int fd);
    /// Takes fd out of the wait for a while (another thread reads it) without forgetting it;
    /// resume() puts it back with the given events. Any thread.
    void suspend(int fd);
    void resume(int fd, std::uint32_t events);
    void post(std::function<void()> task);
    void schedule(Clock::time_point when, std::weak_ptr<Deadline_target> target, std::uint64_t tag);
    bool in_loop_thread() const noexcept { return std::this_thread::get_id() == m_thread_id.load(); }

  private:
    struct Watched
    {
        std::uint32_t generation;
        std::shared_ptr<Io_handler> handler;
        std::uint32_t events;
        bool suspended{false};
    };
    struct Deadline
    {
        Clock::time_point when;
        std::uint64_t tag;
        std::weak_ptr<Deadline_target> target;
        bool operator>(const Deadline& other) const { return when > other.when; }
    };

    void wake();
    /// Under m_mutex: the epoll registration of a watched descriptor (one-shot unless edge-triggered).
    void arm(int fd, const Watched& watched, int operation);
    /// Under m_mutex: sets the timer to the earliest deadline.
    void arm_timer();
    void run_tasks_and_deadlines();

    int m_epoll{-1};
    int m_wake{-1};
    int m_timer{-1};
    // The turn: held while events, tasks and deadlines are handled.
    std::mutex m_turn;
    // The thread holding the turn (or running stop), if any.
    std::atomic<std::thread::id> m_thread_id{};
    // Guards the members below: met by the worker holding the turn and every thread adding
    // descriptors, posting tasks or scheduling deadlines.
    std::mutex m_mutex;
    std::unordered_map<int, Watched> m_watched;
    std::uint32_t m_generation{0};
    std::vector<std::function<void()>> m_tasks;
    std::priority_queue<Deadline, std::vector<Deadline>, std::greater<>> m_deadlines;
    std::optional<Clock::time_point> m_timer_set_for;
    bool m_stopping{false};
    // Taken from the members above and run outside m_mutex; used by the thread holding the turn.
    std::vector<std::function<void()>> m_running;
    std::vector<Deadline> m_due;
};

} // namespace kest::com::internal
