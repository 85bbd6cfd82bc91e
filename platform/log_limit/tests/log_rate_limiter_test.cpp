#include "ara/log/logging.h"
#include "ara/log/testing/log_capture.h"
#include "tarn1/log_limit/log_rate_limiter.hpp"

#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace tarn1::log_limit
{
namespace
{

using namespace std::chrono_literals;
using Clock = Log_rate_limiter::Clock;

struct Occurrence
{
    std::uint64_t key;
    Clock::duration at;
    bool pass;
    std::uint64_t suppressed;
};

struct Limiter_case
{
    const char* name;
    unsigned burst;
    std::size_t max_keys;
    std::vector<Occurrence> occurrences;
};

class Log_rate_limiter_test : public ::testing::TestWithParam<Limiter_case>
{
};

TEST_P(Log_rate_limiter_test, PassesAndCountsAsTheTableSays)
{
    const Limiter_case& param = GetParam();
    Log_rate_limiter sut(1s, param.burst, param.max_keys);
    const Clock::time_point start{};

    for (std::size_t i = 0; i < param.occurrences.size(); ++i)
    {
        const Occurrence& occurrence = param.occurrences[i];
        const Log_rate_limiter::Verdict verdict = sut.check(occurrence.key, start + occurrence.at);

        EXPECT_EQ(verdict.pass, occurrence.pass) << "occurrence " << i;
        if (occurrence.pass)
        {
            EXPECT_EQ(verdict.suppressed, occurrence.suppressed) << "occurrence " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table,
    Log_rate_limiter_test,
    ::testing::Values(
        Limiter_case{"FirstPassesRestOfIntervalHeldBack",
                     1,
                     8,
                     {{1, 0ms, true, 0}, {1, 10ms, false, 0}, {1, 999ms, false, 0}, {1, 1000ms, true, 2}}},
        Limiter_case{
            "BurstOfThree", 3, 8, {{1, 0ms, true, 0}, {1, 1ms, true, 0}, {1, 2ms, true, 0}, {1, 3ms, false, 0}}},
        Limiter_case{"KeysAreIndependent", 1, 8, {{1, 0ms, true, 0}, {1, 1ms, false, 0}, {2, 2ms, true, 0}}},
        Limiter_case{"CountStartsAfreshAfterReport",
                     1,
                     8,
                     {{1, 0ms, true, 0}, {1, 0ms, false, 0}, {1, 1s, true, 1}, {1, 2s, true, 0}}},
        Limiter_case{"ForgottenKeyHandsItsCountOn",
                     1,
                     2,
                     {{1, 0ms, true, 0},
                      {1, 1ms, false, 0},
                      {1, 2ms, false, 0},
                      {2, 3ms, true, 0},
                      {3, 4ms, true, 2},
                      {2, 5ms, false, 0}}}),
    [](const ::testing::TestParamInfo<Limiter_case>& param) { return param.param.name; });

TEST(Log_rate_limiter_stream_test, StreamGetsSuppressedCountOnlyWhenSomethingWasHeldBack)
{
    ara::log::testing::Log_capture capture;

    ara::log::LogWarn() << "Client closed before hello" << Log_rate_limiter::Verdict{true, 0};
    ara::log::LogWarn() << "Client closed before hello" << Log_rate_limiter::Verdict{true, 41};

    const auto lines = capture.texts();
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0], "Client closed before hello");
    EXPECT_EQ(lines[1], "Client closed before hello (41 similar messages suppressed)");
}

TEST(Log_rate_limiter_concurrent_test, EveryOccurrenceIsEitherPassedOrCounted)
{
    Log_rate_limiter sut(1h, 1, 4);
    constexpr int s_threads = 4;
    constexpr int s_per_thread = 10000;
    std::vector<std::thread> threads;
    std::vector<std::uint64_t> passed(s_threads, 0);

    for (int t = 0; t < s_threads; ++t)
    {
        threads.emplace_back(
            [&sut, &passed, t]
            {
                for (int i = 0; i < s_per_thread; ++i)
                {
                    passed[t] += sut.check(static_cast<std::uint64_t>(i % 3)).pass ? 1 : 0;
                }
            });
    }
    for (std::thread& thread : threads)
    {
        thread.join();
    }

    std::uint64_t total_passed = 0;
    for (const std::uint64_t count : passed)
    {
        total_passed += count;
    }
    EXPECT_EQ(total_passed, 3U);
    EXPECT_EQ(sut.check(99).suppressed, 0U) << "a fresh key reports nothing held back while the others stay remembered";
}

} // namespace
} // namespace tarn1::log_limit
