#pragma once

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

namespace vela::com
{

enum class future_status
{
    ready,
    timeout
};

template <typename T> class Future;
template <typename T> class Promise;

namespace detail
{

/// Makes progress on a result on the thread that waits for it: the middleware reads the reply of a
/// call on the waiting thread instead of waking it from another one.
class Wait_helper
{
  public:
    virtual ~Wait_helper() = default;
    /// Returns once ready() holds, or earlier when it cannot help (the waiter then waits as usual).
    virtual void help_wait(const std::function<bool()>& ready) = 0;
};

template <typename T> struct Value_storage
{
    std::optional<T> value;
};

template <> struct Value_storage<void>
{
};

/// What a promise and its future share. The continuation runs once, on the thread that
/// satisfies the promise (or on the thread that attaches it to a satisfied one).
template <typename T> struct Shared_state
{
    // Guards everything below: met by the setting thread (a middleware thread or the caller),
    // the waiting thread and the thread attaching a continuation.
    std::mutex mutex;
    std::condition_variable ready_changed;
    bool ready{false};
    Value_storage<T> storage;
    std::exception_ptr error;
    std::function<void()> continuation;
    // Set before the future is handed out, never changed after.
    std::weak_ptr<Wait_helper> helper;

    bool is_ready()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return ready;
    }

    void complete(std::unique_lock<std::mutex>& lock)
    {
        ready = true;
        std::function<void()> next = std::move(continuation);
        continuation = nullptr;
        lock.unlock();
        ready_changed.notify_all();
        if (next)
        {
            next();
        }
    }
};

} // namespace detail

/// One-shot result holder; get() waits for the value and rethrows a stored exception.
template <typename T> class Future
{
  public:
    Future() = default;
    explicit Future(std::shared_ptr<detail::Shared_state<T>> state)
        : m_state(std::move(state))
    {
    }

    bool valid() const noexcept { return m_state != nullptr; }

    bool is_ready() const
    {
        check_valid();
        std::lock_guard<std::mutex> lock(m_state->mutex);
        return m_state->ready;
    }

    void wait() const
    {
        check_valid();
        if (auto helper = m_state->helper.lock(); helper && !m_state->is_ready())
        {
            auto* state = m_state.get();
            helper->help_wait([state] { return state->is_ready(); });
        }
        std::unique_lock<std::mutex> lock(m_state->mutex);
        m_state->ready_changed.wait(lock, [this] { return m_state->ready; });
    }

    template <typename Rep, typename Period>
    future_status wait_for(const std::chrono::duration<Rep, Period>& timeout) const
    {
        check_valid();
        std::unique_lock<std::mutex> lock(m_state->mutex);
        return m_state->ready_changed.wait_for(lock, timeout, [this] { return m_state->ready; })
                   ? future_status::ready
                   : future_status::timeout;
    }

    /// Waits for the result; returns the value or throws the stored exception. Call it once: the
    /// exception is handed over (so that it ends its life on the thread that caught it).
    T get()
    {
        wait();
        std::unique_lock<std::mutex> lock(m_state->mutex);
        if (m_state->error)
        {
            std::exception_ptr error = std::move(m_state->error);
            m_state->error = std::make_exception_ptr(std::future_error(std::future_errc::future_already_retrieved));
            lock.unlock();
            std::rethrow_exception(error);
        }
        if constexpr (!std::is_void_v<T>)
        {
            // Handed over like the exception: a future is read once.
            return std::move(*m_state->storage.value);
        }
    }

    /// Runs handler(ready future) once the result or an exception is set: at once when it already
    /// is, else on the thread that sets it. Returns a future of what the handler returns (or throws).
    template <typename F> auto then(F&& handler) -> Future<std::invoke_result_t<F, Future<T>>>
    {
        using R = std::invoke_result_t<F, Future<T>>;
        check_valid();
        auto next = std::make_shared<Promise<R>>();
        next->set_wait_helper(m_state->helper);
        Future<R> result = next->get_future();
        auto run = [state = m_state, next, handler = std::forward<F>(handler)]() mutable
        {
            try
            {
                if constexpr (std::is_void_v<R>)
                {
                    handler(Future<T>(state));
                    next->set_value();
                }
                else
                {
                    next->set_value(handler(Future<T>(state)));
                }
            }
            catch (...)
            {
                next->set_exception(std::current_exception());
            }
        };
        std::unique_lock<std::mutex> lock(m_state->mutex);
        if (m_state->ready)
        {
            lock.unlock();
            run();
        }
        else
        {
            m_state->continuation = std::move(run);
        }
        return result;
    }

  private:
    void check_valid() const
    {
        if (!m_state)
        {
            throw std::future_error(std::future_errc::no_state);
        }
    }

    std::shared_ptr<detail::Shared_state<T>> m_state;
};

/// The producing side of a Future. A promise destroyed unsatisfied leaves broken_promise in its future.
template <typename T> class Promise
{
  public:
    Promise()
        : m_state(std::make_shared<detail::Shared_state<T>>())
    {
    }
    ~Promise()
    {
        if (m_state && m_state.use_count() > 1)
        {
            std::unique_lock<std::mutex> lock(m_state->mutex);
            if (!m_state->ready)
            {
                m_state->error = std::make_exception_ptr(std::future_error(std::future_errc::broken_promise));
                m_state->complete(lock);
            }
        }
    }
    Promise(Promise&&) noexcept = default;
    Promise& operator=(Promise&&) noexcept = default;
    Promise(const Promise&) = delete;
    Promise& operator=(const Promise&) = delete;

    Future<T> get_future() { return Future<T>(m_state); }

    /// Lets the threads waiting for this promise's future help it along; before get_future().
    // Moved into the shared state: clang-tidy does not see a move through a member of a template.
    // NOLINTNEXTLINE(performance-unnecessary-value-param)
    void set_wait_helper(std::weak_ptr<detail::Wait_helper> helper) { m_state->helper = std::move(helper); }

    template <typename U = T, typename = std::enable_if_t<!std::is_void_v<U>>> void set_value(U value)
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        if (m_state->ready)
        {
            throw std::future_error(std::future_errc::promise_already_satisfied);
        }
        m_state->storage.value.emplace(std::move(value));
        m_state->complete(lock);
    }

    template <typename U = T, typename = std::enable_if_t<std::is_void_v<U>>> void set_value()
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        if (m_state->ready)
        {
            throw std::future_error(std::future_errc::promise_already_satisfied);
        }
        m_state->complete(lock);
    }

    // Moved into the shared state: clang-tidy does not see a move through a member of a template.
    // NOLINTNEXTLINE(performance-unnecessary-value-param)
    void set_exception(std::exception_ptr error)
    {
        std::unique_lock<std::mutex> lock(m_state->mutex);
        if (m_state->ready)
        {
            throw std::future_error(std::future_errc::promise_already_satisfied);
        }
        m_state->error = std::move(error);
        m_state->complete(lock);
    }

  private:
    std::shared_ptr<detail::Shared_state<T>> m_state;
};

/// A future that is already satisfied.
inline Future<void> make_ready_future()
{
    Promise<void> promise;
    promise.set_value();
    return promise.get_future();
}

} // namespace vela::com
