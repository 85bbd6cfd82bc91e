#include "ara/log/logging.h"
#include "kest/com/exceptions.h"
#include "runtime.hpp"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kest::com::internal
{

Io_loop::Io_loop()
{
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_epoll < 0 || m_wake < 0)
    {
        throw Infrastructure_exception(std::string("cannot create the I/O loop: ") + std::strerror(errno));
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = static_cast<std::uint64_t>(m_wake);
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &event);
}

Io_loop::~Io_loop()
{
    stop();
    m_watched.clear();
    ::close(m_wake);
    ::close(m_epoll);
}

void Io_loop::start()
{
    m_thread = std::thread([this] { run(); });
}

void Io_loop::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    wake();
    if (m_thread.joinable())
    {
        if (in_loop_thread())
        {
            m_thread.detach();
        }
        else
        {
            m_thread.join();
        }
    }
}

void Io_loop::wake()
{
    const std::uint64_t one = 1;
    // A full counter already means a pending wake-up.
    (void)!::write(m_wake, &one, sizeof one);
}

void Io_loop::add(int fd, std::uint32_t events, std::shared_ptr<Io_handler> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::uint32_t generation = ++m_generation;
    m_watched[fd] = Watched{generation, std::move(handler)};
    epoll_event event{};
    event.events = events;
    event.data.u64 = (static_cast<std::uint64_t>(generation) << 32) | static_cast<std::uint32_t>(fd);
    if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) != 0)
    {
        m_watched.erase(fd);
        throw Infrastructure_exception(std::string("cannot watch a descriptor: ") + std::strerror(errno));
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
    epoll_event event{};
    event.events = events;
    event.data.u64 = (static_cast<std::uint64_t>(found->second.generation) << 32) | static_cast<std::uint32_t>(fd);
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event);
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
        m_watched.erase(found);
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    }
    // The handler may be the last owner of itself; let it go outside the lock.
    handler.reset();
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
    bool earliest = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        earliest = m_deadlines.empty() || when < m_deadlines.top().when;
        m_deadlines.push(Deadline{when, tag, std::move(target)});
    }
    if (earliest && !in_loop_thread())
    {
        wake();
    }
}

void Io_loop::run()
{
    m_thread_id = std::this_thread::get_id();
    constexpr int s_max_events = 64;
    epoll_event events[s_max_events];
    std::vector<std::function<void()>> tasks;
    std::vector<Deadline> due;
    for (;;)
    {
        int timeout_ms = -1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping && m_tasks.empty())
            {
                break;
            }
            if (!m_tasks.empty())
            {
                timeout_ms = 0;
            }
            else if (!m_deadlines.empty())
            {
                const auto left = std::chrono::ceil<std::chrono::milliseconds>(m_deadlines.top().when - Clock::now());
                timeout_ms = left.count() < 0 ? 0 : static_cast<int>(left.count());
            }
        }
        const int count = ::epoll_wait(m_epoll, events, s_max_events, timeout_ms);
        if (count < 0 && errno != EINTR)
        {
            ara::log::LogError() << "I/O loop: epoll_wait failed: " << std::strerror(errno);
            break;
        }
        for (int i = 0; i < count; ++i)
        {
            const int fd = static_cast<int>(events[i].data.u64 & 0xFFFFFFFFU);
            if (fd == m_wake)
            {
                std::uint64_t value = 0;
                (void)!::read(m_wake, &value, sizeof value);
                continue;
            }
            const auto generation = static_cast<std::uint32_t>(events[i].data.u64 >> 32);
            std::shared_ptr<Io_handler> handler;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                const auto found = m_watched.find(fd);
                if (found != m_watched.end() && found->second.generation == generation)
                {
                    handler = found->second.handler;
                }
            }
            if (handler)
            {
                handler->on_io(events[i].events);
            }
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            tasks.swap(m_tasks);
            const auto now = Clock::now();
            while (!m_deadlines.empty() && m_deadlines.top().when <= now)
            {
                due.push_back(m_deadlines.top());
                m_deadlines.pop();
            }
        }
        for (auto& task : tasks)
        {
            task();
        }
        tasks.clear();
        for (auto& deadline : due)
        {
            if (auto target = deadline.target.lock())
            {
                target->on_deadline(deadline.tag);
            }
        }
        due.clear();
    }
}

} // namespace kest::com::internal
