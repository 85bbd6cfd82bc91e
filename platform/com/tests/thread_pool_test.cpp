// The worker pool with a poller: idle workers wait for I/O, and a task never takes the last one.
// A task that throws is logged and ends neither its worker, its strand nor the process.
#include "ara/log/testing/log_capture.h"
#include "kest/com/static_thread_pool.h"
#include "kest/com/strand.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <string>

namespace
{

using namespace std::chrono_literals;

/// Stands for the I/O loop: poll_once() waits until interrupted and counts who waits.
class Fake_poller final : public kest::com::Poller
{
  public:
    void poll_once() override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_inside;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_interrupts > 0; });
        --m_interrupts;
        --m_inside;
    }
    void interrupt() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_interrupts;
        m_changed.notify_all();
    }
    /// Waits until some worker waits in poll_once().
    bool wait_for_a_poller(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_inside > 0; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_inside{0};
    int m_interrupts{0};
};

class Pool_with_poller_test : public ::testing::TestWithParam<std::size_t>
{
};

TEST_P(Pool_with_poller_test, EveryTaskRunsWhileAnotherWorkerWaitsForIo)
{
    const std::size_t workers = GetParam();
    Fake_poller poller;
    std::mutex mutex;
    std::condition_variable finished;
    int done = 0;
    int without_poller = 0;
    std::atomic<std::size_t> running{0};
    std::atomic<std::size_t> most_running{0};
    const int tasks = static_cast<int>(workers) * 4;
    {
        kest::com::static_thread_pool sut(workers);
        sut.set_poller(&poller);

        for (int i = 0; i < tasks; ++i)
        {
            sut.post(
                [&]
                {
                    const std::size_t now = running.fetch_add(1) + 1;
                    std::size_t most = most_running.load();
                    while (now > most && !most_running.compare_exchange_weak(most, now))
                    {
                    }
                    const bool polled = poller.wait_for_a_poller(2s);
                    std::this_thread::sleep_for(1ms);
                    running.fetch_sub(1);
                    std::lock_guard<std::mutex> lock(mutex);
                    without_poller += polled ? 0 : 1;
                    ++done;
                    finished.notify_all();
                });
        }
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(finished.wait_for(lock, 10s, [&] { return done == tasks; }));
    }

    EXPECT_EQ(without_poller, 0);
    EXPECT_LE(most_running.load(), workers - 1);
    EXPECT_GE(most_running.load(), 1U);
}

TEST_P(Pool_with_poller_test, StoppingEndsWorkersThatWaitForIo)
{
    Fake_poller poller;
    std::atomic<int> ran{0};
    {
        kest::com::static_thread_pool sut(GetParam());
        sut.set_poller(&poller);
        ASSERT_TRUE(poller.wait_for_a_poller(2s));
        sut.post([&] { ++ran; });
        // The destructor stops the pool: queued work still runs, then every worker ends.
    }

    EXPECT_EQ(ran.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(Workers, Pool_with_poller_test, ::testing::Values(2U, 3U, 5U));

struct Failing_task_case
{
    const char* name;
    bool on_strand;
    std::function<void()> failure;
    const char* logged;
};

class Failing_task_test : public ::testing::TestWithParam<Failing_task_case>
{
  protected:
    ara::log::testing::Log_capture m_log;
};

TEST_P(Failing_task_test, FailureIsLoggedAndLaterTasksStillRun)
{
    const Failing_task_case& param = GetParam();
    Fake_poller poller;
    std::mutex mutex;
    std::condition_variable finished;
    int done = 0;
    {
        kest::com::static_thread_pool sut(2);
        sut.set_poller(&poller);
        kest::com::Strand strand(sut);
        const auto post = [&](std::function<void()> task)
        {
            if (param.on_strand)
            {
                strand.post(std::move(task));
            }
            else
            {
                sut.post(std::move(task));
            }
        };

        for (int round = 0; round < 2; ++round)
        {
            post(param.failure);
            post(
                [&]
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    ++done;
                    finished.notify_all();
                });
        }
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(finished.wait_for(lock, 5s, [&] { return done == 2; }));
    }

    EXPECT_EQ(m_log.count(param.logged, ara::log::LogLevel::kError), 2U);
}

INSTANTIATE_TEST_SUITE_P(
    Failures,
    Failing_task_test,
    ::testing::Values(Failing_task_case{"StdExceptionOnPool",
                                        false,
                                        [] { throw std::runtime_error("disk on fire"); },
                                        "com: a callback on a worker thread failed: disk on fire"},
                      Failing_task_case{"OtherTypeOnPool",
                                        false,
                                        [] { throw 7; },
                                        "com: a callback on a worker thread failed: exception of unknown type"},
                      Failing_task_case{"StdExceptionOnStrand",
                                        true,
                                        [] { throw std::logic_error("broken invariant"); },
                                        "com: a callback on a worker thread failed: broken invariant"},
                      Failing_task_case{"OtherTypeOnStrand",
                                        true,
                                        [] { throw "a C string"; },
                                        "com: a callback on a worker thread failed: exception of unknown type"}),
    [](const ::testing::TestParamInfo<Failing_task_case>& param) { return std::string(param.param.name); });

} // namespace
