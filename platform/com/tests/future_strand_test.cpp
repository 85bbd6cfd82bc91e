#include "kest/com/static_thread_pool.h"
#include "kest/com/strand.h"
#include "vela/com/future.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;

TEST(Future_test, ThenRunsWhenTheValueIsSetAndPassesItsResultOn)
{
    vela::com::Promise<int> promise;
    auto sut = promise.get_future();
    auto doubled = sut.then([](vela::com::Future<int> done) { return done.get() * 2; });
    EXPECT_FALSE(doubled.is_ready());

    promise.set_value(21);

    EXPECT_EQ(doubled.get(), 42);
}

TEST(Future_test, ThenOnAReadyFutureRunsAtOnce)
{
    auto sut = vela::com::make_ready_future();
    bool ran = false;

    sut.then([&](vela::com::Future<void>) { ran = true; });

    EXPECT_TRUE(ran);
}

TEST(Future_test, ExceptionReachesTheContinuationAndItsFuture)
{
    vela::com::Promise<void> promise;
    auto chained = promise.get_future().then([](vela::com::Future<void> done) { done.get(); });

    promise.set_exception(std::make_exception_ptr(std::runtime_error("gone")));

    EXPECT_THROW(chained.get(), std::runtime_error);
}

TEST(Future_test, PromiseDestroyedUnsatisfiedBreaksItsFuture)
{
    vela::com::Future<int> sut;
    {
        vela::com::Promise<int> promise;
        sut = promise.get_future();
    }

    EXPECT_THROW(sut.get(), std::future_error);
}

TEST(Future_test, WaitForTimesOutWhileUnset)
{
    vela::com::Promise<int> promise;
    auto sut = promise.get_future();

    EXPECT_EQ(sut.wait_for(10ms), vela::com::future_status::timeout);
}

TEST(Strand_test, TasksOfOneStrandNeverOverlapAndKeepTheirOrder)
{
    kest::com::static_thread_pool pool(4);
    kest::com::Strand sut(pool);
    std::atomic<int> running{0};
    std::atomic<int> overlaps{0};
    std::mutex mutex;
    std::condition_variable finished;
    std::vector<int> order;
    std::vector<std::thread> posters;

    for (int poster = 0; poster < 4; ++poster)
    {
        posters.emplace_back(
            [&, poster]
            {
                for (int i = 0; i < 100; ++i)
                {
                    sut.post(
                        [&, poster, i]
                        {
                            if (running.fetch_add(1) != 0)
                            {
                                ++overlaps;
                            }
                            std::this_thread::yield();
                            running.fetch_sub(1);
                            std::lock_guard<std::mutex> lock(mutex);
                            order.push_back(poster * 1000 + i);
                            finished.notify_all();
                        });
                }
            });
    }
    for (auto& poster : posters)
    {
        poster.join();
    }
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(finished.wait_for(lock, 5s, [&] { return order.size() == 400; }));

    EXPECT_EQ(overlaps.load(), 0);
    std::vector<int> last(4, -1);
    for (const int entry : order)
    {
        EXPECT_GT(entry % 1000, last[entry / 1000]);
        last[entry / 1000] = entry % 1000;
    }
}

TEST(Strand_test, TwoStrandsRunTheirTasksInParallel)
{
    kest::com::static_thread_pool pool(2);
    kest::com::Strand first(pool);
    kest::com::Strand second(pool);
    std::mutex mutex;
    std::condition_variable changed;
    int inside = 0;
    bool both_inside = false;

    // each task waits until the other strand's task is running too
    auto meet = [&]
    {
        std::unique_lock<std::mutex> lock(mutex);
        ++inside;
        changed.notify_all();
        both_inside = changed.wait_for(lock, 5s, [&] { return inside == 2; });
    };
    first.post(meet);
    second.post(meet);

    std::unique_lock<std::mutex> lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, 5s, [&] { return inside == 2; }));
    lock.unlock();
    first.close();
    second.close();
    EXPECT_TRUE(both_inside);
}

TEST(Strand_test, CloseWaitsForTheRunningTaskAndDropsTheQueue)
{
    kest::com::static_thread_pool pool(2);
    kest::com::Strand sut(pool);
    std::atomic<bool> started{false};
    std::atomic<bool> first_done{false};
    std::atomic<bool> second_ran{false};
    sut.post(
        [&]
        {
            started = true;
            std::this_thread::sleep_for(50ms);
            first_done = true;
        });
    sut.post([&] { second_ran = true; });
    while (!started)
    {
        std::this_thread::yield();
    }

    sut.close();

    EXPECT_TRUE(first_done.load());
    pool.stop();
    pool.join();
    EXPECT_FALSE(second_ran.load());
}

} // namespace
