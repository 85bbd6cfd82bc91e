#include "kest/com/static_thread_pool.h"
#include "kest/com/strand.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace kest::com
{

namespace
{
thread_local const static_thread_pool* t_current_pool = nullptr;
}

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

void static_thread_pool::post(std::function<void()> task)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping)
        {
            return;
        }
        m_tasks.push_back(std::move(task));
    }
    m_task_posted.notify_one();
}

bool static_thread_pool::running_in_this_thread() const
{
    return t_current_pool == this;
}

void static_thread_pool::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
    }
    m_task_posted.notify_all();
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
    for (;;)
    {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_task_posted.wait(lock, [this] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty())
            {
                return;
            }
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
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
            task();
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

void Strand::post(std::function<void()> task)
{
    bool schedule = false;
    {
        std::lock_guard<std::mutex> lock(m_state->mutex);
        if (m_state->closed)
        {
            return;
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
