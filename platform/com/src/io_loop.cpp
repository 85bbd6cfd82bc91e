#include "io_loop.hpp"

#include "ara/log/logging.h"
#include "kest/com/exceptions.h"
#include "run_guarded.hpp"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <system_error>
#include <unistd.h>

namespace kest::com::internal
{

namespace
{
constexpr std::uint64_t s_wake_tag = ~std::uint64_t{0};
constexpr std::uint64_t s_timer_tag = ~std::uint64_t{0} - 1;

std::uint64_t tag_of(int fd, std::uint32_t generation)
{
    return (static_cast<std::uint64_t>(generation) << 32) | static_cast<std::uint32_t>(fd);
}
} // namespace

Io_loop::Io_loop()
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_epoll < 0 || m_wake < 0 || m_timer < 0)
    {
        throw Infrastructure_exception(std::string("cannot create the I/O loop: ") +
                                       std::generic_category().message(errno));
    }
    // Edge-triggered: one write, or one expiry, wakes one waiting worker.
    epoll_event event{};
    event.events = EPOLLIN | EPOLLET;
    event.data.u64 = s_wake_tag;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &event);
    event.data.u64 = s_timer_tag;
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_timer, &event);
}

Io_loop::~Io_loop()
{
    stop();
    m_watched.clear();
    ::close(m_timer);
    ::close(m_wake);
    ::close(m_epoll);
}

void Io_loop::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    wake();
    // The workers are gone: what they left queued runs here, as the loop's last turn.
    std::lock_guard<std::mutex> turn(m_turn);
    m_thread_id = std::this_thread::get_id();
    for (;;)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_tasks.empty())
            {
                break;
            }
        }
        run_tasks_and_deadlines();
    }
    m_thread_id = std::thread::id{};
}

void Io_loop::wake()
{
    const std::uint64_t one = 1;
    // A full counter already means a pending wake-up.
    (void)!::write(m_wake, &one, sizeof one);
}

void Io_loop::arm(int fd, const Watched& watched, int operation)
{
    epoll_event event{};
    event.events = watched.events | ((watched.events & EPOLLET) != 0 ? 0U : static_cast<std::uint32_t>(EPOLLONESHOT));
    event.data.u64 = tag_of(fd, watched.generation);
    ::epoll_ctl(m_epoll, operation, fd, &event);
}

void Io_loop::add(int fd, std::uint32_t events, std::shared_ptr<Io_handler> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::uint32_t generation = ++m_generation;
    m_watched[fd] = Watched{generation, std::move(handler), events};
    epoll_event event{};
    event.events = events | ((events & EPOLLET) != 0 ? 0U : static_cast<std::uint32_t>(EPOLLONESHOT));
    event.data.u64 = tag_of(fd, generation);
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0)
    {
        m_watched.erase(fd);
        throw Infrastructure_exception(std::string("cannot watch a descriptor: ") +
                                       std::generic_category().message(errno));
    }
}

void Io_loop::modify(int fd, std::uint32_t events)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_watched.find(fd);
    if (found == m_watched.end())
    {
        return;
    }
    found->second.events = events;
    if (!found->second.suspended)
    {
        // Re-arms too: a worker still handling the descriptor finishes before another one can start.
        arm(fd, found->second, EPOLL_CTL_MOD);
    }
}

void Io_loop::remove(int fd)
{
    std::shared_ptr<Io_handler> handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_watched.find(fd);
        if (found == m_watched.end())
        {
            return;
        }
        handler = std::move(found->second.handler);
        if (!found->second.suspended)
        {
            ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
        }
        m_watched.erase(found);
    }
    // The handler may be the last owner of itself; let it go outside the lock.
    handler.reset();
}

void Io_loop::suspend(int fd)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_watched.find(fd);
    if (found == m_watched.end() || found->second.suspended)
    {
        return;
    }
    found->second.suspended = true;
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
}

void Io_loop::resume(int fd, std::uint32_t events)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_watched.find(fd);
    if (found == m_watched.end() || !found->second.suspended)
    {
        return;
    }
    found->second.suspended = false;
    found->second.events = events;
    arm(fd, found->second, EPOLL_CTL_ADD);
}

void Io_loop::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    wake();
}

void Io_loop::schedule(Clock::time_point when, std::weak_ptr<Deadline_target> target, std::uint64_t tag)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deadlines.push(Deadline{when, tag, std::move(target)});
    arm_timer();
}

void Io_loop::arm_timer()
{
    if (m_deadlines.empty() || (m_timer_set_for && *m_timer_set_for <= m_deadlines.top().when))
    {
        return;
    }
    const auto when = m_deadlines.top().when;
    const auto since_epoch = std::chrono::duration_cast<std::chrono::nanoseconds>(when.time_since_epoch()).count();
    itimerspec setting{};
    // Zero would disarm the timer; a deadline at the clock's origin is long past anyway.
    setting.it_value.tv_sec = static_cast<time_t>(since_epoch / 1000000000);
    setting.it_value.tv_nsec = static_cast<long>(since_epoch % 1000000000);
    if (setting.it_value.tv_sec == 0 && setting.it_value.tv_nsec == 0)
    {
        setting.it_value.tv_nsec = 1;
    }
    ::timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &setting, nullptr);
    m_timer_set_for = when;
}

void Io_loop::poll_once()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
        {
            return;
        }
    }
    constexpr int s_max_events = 64;
    epoll_event events[s_max_events];
    const int count = ::epoll_wait(m_epoll, events, s_max_events, -1);
    if (count < 0 && errno != EINTR)
    {
        ara::log::LogError() << "I/O loop: epoll_wait failed: " << std::generic_category().message(errno);
        return;
    }

    std::lock_guard<std::mutex> turn(m_turn);
    m_thread_id = std::this_thread::get_id();
    for (int i = 0; i < count; ++i)
    {
        const std::uint64_t tag = events[i].data.u64;
        if (tag == s_wake_tag)
        {
            std::uint64_t value = 0;
            (void)!::read(m_wake, &value, sizeof value);
            continue;
        }
        if (tag == s_timer_tag)
        {
            std::uint64_t expiries = 0;
            (void)!::read(m_timer, &expiries, sizeof expiries);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_timer_set_for.reset();
            continue;
        }
        const int fd = static_cast<int>(tag & 0xFFFFFFFFU);
        const auto generation = static_cast<std::uint32_t>(tag >> 32);
        std::shared_ptr<Io_handler> handler;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto found = m_watched.find(fd);
            if (found != m_watched.end() && found->second.generation == generation)
            {
                handler = found->second.handler;
            }
        }
        if (!handler)
        {
            continue;
        }
        run_guarded([&handler, &events, i] { handler->on_io(events[i].events); });
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_watched.find(fd);
        if (found != m_watched.end() && found->second.generation == generation && !found->second.suspended &&
            (found->second.events & EPOLLET) == 0)
        {
            arm(fd, found->second, EPOLL_CTL_MOD);
        }
    }
    run_tasks_and_deadlines();
    m_thread_id = std::thread::id{};
}

void Io_loop::run_tasks_and_deadlines()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running.swap(m_tasks);
        const auto now = Clock::now();
        while (!m_deadlines.empty() && m_deadlines.top().when <= now)
        {
            m_due.push_back(m_deadlines.top());
            m_deadlines.pop();
        }
        if (!m_due.empty())
        {
            m_timer_set_for.reset();
        }
        arm_timer();
    }
    for (auto& task : m_running)
    {
        run_guarded(task);
    }
    m_running.clear();
    for (auto& deadline : m_due)
    {
        if (auto target = deadline.target.lock())
        {
            run_guarded([&target, &deadline] { target->on_deadline(deadline.tag); });
        }
    }
    m_due.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_tasks.empty())
    {
        // Posted while this turn ran tasks: the next turn takes them.
        wake();
    }
}

} // namespace kest::com::internal
