#include "ara/log/logging.h"
#include "kest/com/static_thread_pool.h"
#include "kest/com/strand.h"
#include "log_limits.hpp"
#include "run_guarded.hpp"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace kest::com
{

namespace
{
thread_local const static_thread_pool* t_current_pool = nullptr;
// The pool whose poll turn this thread holds.
thread_local const static_thread_pool* t_polling_pool = nullptr;
} // namespace

namespace internal
{

void report_callback_failure(const std::exception* error) noexcept
{
    if (const auto verdict = log_limit(Limited_log::kCallbackFailed).check(error != nullptr ? 0 : 1); verdict.pass)
    {
        ara::log::LogError() << "com: a callback on a worker thread failed: "
                             << (error != nullptr ? error->what() : "exception of unknown type") << verdict;
    }
}

} // namespace internal

static_thread_pool::static_thread_pool(std::size_t threads)
{
    const std::size_t count = std::max<std::size_t>(threads, 1);
    m_workers.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
    {
        m_workers.emplace_back([this] { work(); });
    }
}

static_thread_pool::~static_thread_pool()
{
    stop();
    join();
}

void static_thread_pool::set_poller(Poller* poller)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_poller = poller;
    }
    m_task_posted.notify_all();
}

void static_thread_pool::post(std::function<void()> task)
{
    bool notify = false;
    Poller* wake = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
        {
            return;
        }
        m_tasks.push_back(std::move(task));
        if (m_poller == nullptr)
        {
            notify = m_sleeping > 0;
        }
        else if (t_polling_pool != this && m_polling >= 2)
        {
            // One of the waiting workers runs it while another keeps waiting for I/O; the worker
            // handling I/O sees its own tasks when it is done.
            wake = m_poller;
        }
    }
    if (notify)
    {
        m_task_posted.notify_one();
    }
    if (wake != nullptr)
    {
        wake->interrupt();
    }
}

bool static_thread_pool::running_in_this_thread() const
{
    return t_current_pool == this;
}

void static_thread_pool::stop()
{
    Poller* poller = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        poller = m_poller;
    }
    m_task_posted.notify_all();
    if (poller != nullptr)
    {
        // Each worker leaving wakes the next one still waiting.
        poller->interrupt();
    }
}

void static_thread_pool::join()
{
    for (auto& worker : m_workers)
    {
        if (worker.joinable())
        {
            if (worker.get_id() == std::this_thread::get_id())
            {
                worker.detach();
            }
            else
            {
                worker.join();
            }
        }
    }
}

void static_thread_pool::work()
{
    t_current_pool = this;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;)
    {
        // With a poller, a task runs only while another worker polls (or is about to).
        if (!m_tasks.empty() && (m_poller == nullptr || m_polling > 0))
        {
            std::function<void()> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            bool notify = false;
            Poller* wake = nullptr;
            if (!m_tasks.empty())
            {
                notify = m_poller == nullptr && m_sleeping > 0;
                wake = m_poller != nullptr && m_polling >= 2 ? m_poller : nullptr;
            }
            lock.unlock();
            if (notify)
            {
                m_task_posted.notify_one();
            }
            if (wake != nullptr)
            {
                wake->interrupt();
            }
            internal::run_guarded(task);
            task = nullptr;
            lock.lock();
            continue;
        }
        if (m_stopping && m_tasks.empty())
        {
            Poller* poller = m_poller;
            lock.unlock();
            if (poller != nullptr)
            {
                poller->interrupt();
            }
            return;
        }
        if (m_poller != nullptr)
        {
            Poller* poller = m_poller;
            ++m_polling;
            lock.unlock();
            t_polling_pool = this;
            internal::run_guarded([poller] { poller->poll_once(); });
            t_polling_pool = nullptr;
            lock.lock();
            --m_polling;
            continue;
        }
        ++m_sleeping;
        m_task_posted.wait(lock);
        --m_sleeping;
    }
}

struct Strand::State : std::enable_shared_from_this<Strand::State>
{
    explicit State(static_thread_pool& p)
        : pool(p)
    {
    }

    static_thread_pool& pool;
    // Guards the members below: met by posting threads, the worker running the strand and the closing thread.
    std::mutex mutex;
    std::condition_variable idle;
    std::deque<std::function<void()>> tasks;
    bool scheduled{false};
    bool closed{false};
    std::thread::id runner{};

    void drain()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!tasks.empty() && !closed)
        {
            std::function<void()> task = std::move(tasks.front());
            tasks.pop_front();
            runner = std::this_thread::get_id();
            lock.unlock();
            // Caught here, so that the strand goes on with its next task instead of staying busy.
            internal::run_guarded(task);
            task = nullptr;
            lock.lock();
            runner = std::thread::id{};
        }
        scheduled = false;
        lock.unlock();
        idle.notify_all();
    }
};

Strand::Strand(static_thread_pool& pool)
    : m_state(std::make_shared<State>(pool))
{
}

Strand::~Strand()
{
    close();
}

bool Strand::post(std::function<void()> task)
{
    bool schedule = false;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->closed)
        {
            return false;
        }
        m_state->tasks.push_back(std::move(task));
        if (!m_state->scheduled)
        {
            m_state->scheduled = true;
            schedule = true;
        }
    }
    if (schedule)
    {
        m_state->pool.post([state = m_state] { state->drain(); });
    }
    return true;
}

bool Strand::running_in_this_thread() const
{
    std::lock_guard<std::mutex> lock(m_state->mutex);
    return m_state->runner == std::this_thread::get_id();
}

void Strand::close()
{
    std::deque<std::function<void()>> dropped;
    std::unique_lock<std::mutex> lock(m_state->mutex);
    m_state->closed = true;
    dropped.swap(m_state->tasks);
    if (m_state->runner != std::this_thread::get_id())
    {
        m_state->idle.wait(lock, [this] { return m_state->runner == std::thread::id{}; });
    }
    lock.unlock();
}

} // namespace kest::com
