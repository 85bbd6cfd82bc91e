#include "client_state_notifier/peer_log_limiter.hpp"

#include <gtest/gtest.h>
#include <random>
#include <set>
#include <vector>

namespace utilities
{
namespace
{

using namespace std::chrono_literals;
using Clock = Peer_log_limiter::Clock;

struct Occurrence
{
    std::uint64_t peer;
    Clock::duration at;
    bool pass;
    std::uint64_t suppressed;
};

struct Limiter_case
{
    const char* name;
    unsigned per_peer;
    unsigned in_all;
    std::vector<Occurrence> occurrences;
};

void PrintTo(const Limiter_case& value, std::ostream* out)
{
    *out << value.name;
}

class Peer_log_limiter_test : public ::testing::TestWithParam<Limiter_case>
{
};

TEST_P(Peer_log_limiter_test, PassesAndCountsAsTheTableSays)
{
    const auto& param = GetParam();
    Peer_log_limiter sut(Log_limits{1s, param.per_peer, param.in_all});
    const Clock::time_point start{};

    for (std::size_t index = 0; index < param.occurrences.size(); ++index)
    {
        const auto& occurrence = param.occurrences[index];
        const auto verdict = sut.check(occurrence.peer, start + occurrence.at);

        EXPECT_EQ(verdict.pass, occurrence.pass) << "occurrence " << index;
        if (occurrence.pass)
        {
            EXPECT_EQ(verdict.suppressed, occurrence.suppressed) << "occurrence " << index;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table,
    Peer_log_limiter_test,
    ::testing::Values(
        Limiter_case{"OnePeerGetsItsBurstThenWaitsForTheNextInterval",
                     2,
                     10,
                     {{1, 0ms, true, 0}, {1, 1ms, true, 0}, {1, 2ms, false, 0}, {1, 3ms, false, 0}, {1, 1s, true, 2}}},
        Limiter_case{"OtherPeersAreNotHeldBackByOne",
                     1,
                     10,
                     {{1, 0ms, true, 0}, {1, 1ms, false, 0}, {2, 2ms, true, 0}, {3, 3ms, true, 0}}},
        Limiter_case{"ManyPeersTogetherAreBoundedInAll",
                     1,
                     3,
                     {{1, 0ms, true, 0},
                      {2, 1ms, true, 0},
                      {3, 2ms, true, 0},
                      {4, 3ms, false, 0},
                      {5, 4ms, false, 0},
                      {6, 1s, true, 2}}},
        // peer 1's own count passes its per-peer check at 1100 ms but the overall bound holds
        // the line back; the count goes with the next line that is written
        Limiter_case{"CountOfALineHeldBackInAllIsCarriedOn",
                     1,
                     2,
                     {{3, 0ms, true, 0},
                      {1, 100ms, true, 0},
                      {1, 200ms, false, 0},
                      {4, 1000ms, true, 0},
                      {5, 1001ms, true, 0},
                      {1, 1100ms, false, 0},
                      {6, 2000ms, true, 2}}}),
    [](const ::testing::TestParamInfo<Limiter_case>& param_info) { return std::string(param_info.param.name); });

TEST(Peer_log_limiter_count_test, EveryOccurrenceIsWrittenOrCountedInALaterLine)
{
    Peer_log_limiter sut(Log_limits{1s, 2, 5});
    std::mt19937 random(7);
    std::uniform_int_distribution<std::uint64_t> peer(0, 99);
    std::uniform_int_distribution<int> step(0, 20);
    Clock::time_point now{};
    std::set<std::uint64_t> peers;
    std::uint64_t accounted = 0;
    constexpr std::uint64_t s_occurrences = 20000;

    for (std::uint64_t index = 0; index < s_occurrences; ++index)
    {
        now += std::chrono::milliseconds(step(random));
        const auto key = peer(random);
        peers.insert(key);
        const auto verdict = sut.check(key, now);
        accounted += verdict.pass ? 1 + verdict.suppressed : 0;
    }
    // one more line per peer, each in an interval of its own, gives back what is still held
    for (const auto key : peers)
    {
        now += 1s;
        const auto verdict = sut.check(key, now);
        ASSERT_TRUE(verdict.pass);
        accounted += verdict.suppressed;
    }

    EXPECT_EQ(accounted, s_occurrences);
}

} // namespace
} // namespace utilities
