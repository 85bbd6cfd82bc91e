#include "platform/service_manager/tests/mocks/mock_service_manager.hpp"
#include "tarn1/service_manager/watchdog_pacer.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace tarn1::service_manager
{
namespace
{

using namespace std::chrono_literals;
using testing::Mock_service_manager;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StrEq;
using Kick = Watchdog_pacer::Kick;

const std::chrono::steady_clock::time_point s_start{std::chrono::hours{1}};

struct Pacing_case
{
    const char* label;
    std::chrono::microseconds interval;
    std::vector<std::chrono::milliseconds> kicks;
    std::vector<Kick> expected;
};

void PrintTo(const Pacing_case& value, std::ostream* os)
{
    *os << value.label;
}

class Watchdog_pacer_test : public ::testing::TestWithParam<Pacing_case>
{
  protected:
    NiceMock<Mock_service_manager> m_service_manager;
};

TEST_P(Watchdog_pacer_test, KeepAlivesComeAtMostOncePerQuarterInterval)
{
    ON_CALL(m_service_manager, watchdog_interval()).WillByDefault(Return(GetParam().interval));
    ON_CALL(m_service_manager, notify(StrEq("WATCHDOG=1"))).WillByDefault(Return(1));
    Watchdog_pacer sut(m_service_manager);

    std::vector<Kick> kicks;
    for (const auto offset : GetParam().kicks)
    {
        kicks.push_back(sut.kick(s_start + offset));
    }

    EXPECT_EQ(kicks, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Intervals,
    Watchdog_pacer_test,
    ::testing::Values(
        // a 1 s watchdog: one keep-alive per 250 ms, the first at once
        Pacing_case{"CyclesFasterThanTheSpacing",
                    1s,
                    {0ms, 100ms, 249ms, 250ms, 400ms, 600ms},
                    {Kick::sent, Kick::not_due, Kick::not_due, Kick::sent, Kick::not_due, Kick::sent}},
        Pacing_case{"CyclesSlowerThanTheSpacing", 1s, {0ms, 300ms, 900ms}, {Kick::sent, Kick::sent, Kick::sent}},
        Pacing_case{"NotWatched", 0us, {0ms, 10s, 20s}, {Kick::not_due, Kick::not_due, Kick::not_due}},
        // a clock that jumps back (a new time base) does not send early
        Pacing_case{"TimeBeforeTheLastKeepAlive", 1s, {500ms, 0ms, 750ms}, {Kick::sent, Kick::not_due, Kick::sent}}),
    [](const ::testing::TestParamInfo<Pacing_case>& param) { return std::string{param.param.label}; });

TEST(Watchdog_pacer_failure_test, FailedKeepAliveIsTriedAgainOnlyAfterTheSpacing)
{
    NiceMock<Mock_service_manager> service_manager;
    ON_CALL(service_manager, watchdog_interval()).WillByDefault(Return(std::chrono::microseconds{1s}));
    EXPECT_CALL(service_manager, notify(StrEq("WATCHDOG=1"))).WillOnce(Return(-ECONNREFUSED)).WillOnce(Return(1));
    Watchdog_pacer sut(service_manager);

    const Kick first = sut.kick(s_start);
    const Kick soon_after = sut.kick(s_start + 10ms);
    const Kick later = sut.kick(s_start + 250ms);

    EXPECT_EQ(first, Kick::failed);
    EXPECT_EQ(soon_after, Kick::not_due);
    EXPECT_EQ(later, Kick::sent);
}

TEST(Watchdog_pacer_concurrency_test, OfManyThreadsDueAtOnceOneSends)
{
    NiceMock<Mock_service_manager> service_manager;
    ON_CALL(service_manager, watchdog_interval()).WillByDefault(Return(std::chrono::microseconds{1s}));
    std::atomic<int> sends{0};
    ON_CALL(service_manager, notify(StrEq("WATCHDOG=1")))
        .WillByDefault(
            [&](const char*)
            {
                sends.fetch_add(1);
                return 1;
            });
    Watchdog_pacer sut(service_manager);

    std::vector<std::thread> threads;
    for (int thread = 0; thread < 8; ++thread)
    {
        threads.emplace_back(
            [&]
            {
                for (int round = 0; round < 4; ++round)
                {
                    sut.kick(s_start + round * 250ms);
                }
            });
    }
    for (auto& thread : threads)
    {
        thread.join();
    }

    // each of the four due times is booked by exactly one kick, whichever thread made it
    EXPECT_EQ(sends.load(), 4);
}

} // namespace
} // namespace tarn1::service_manager
