#include "statemanager/states/state_ids.hpp"
#include "statemanager/status/transition_cause.hpp"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace vela::ap::statemanager::status
{
namespace
{

using namespace states;
using virtio::Virtio_command;

struct Cause_case
{
    const char* name;
    std::uint32_t from;
    std::uint32_t to;
    Virtio_command command;
    Cause_context context;
    Cause_kind kind;
    const char* text;
};

void PrintTo(const Cause_case& value, std::ostream* out)
{
    *out << value.name;
}

class Transition_cause_test : public ::testing::TestWithParam<Cause_case>
{
};

TEST_P(Transition_cause_test, CauseIsReadBackFromTheTransitionTables)
{
    const auto& row = GetParam();

    const Cause sut = cause_of(row.from, row.to, row.command, row.context);

    EXPECT_EQ(sut.kind, row.kind);
    EXPECT_EQ(sut.text, row.text);
}

constexpr Cause_context s_none{};
constexpr Cause_context s_found{true, false, false};
constexpr Cause_context s_kept_expired{true, true, true};
constexpr Cause_context s_kept_counting{true, true, false};

INSTANTIATE_TEST_SUITE_P(
    Rows,
    Transition_cause_test,
    ::testing::Values(
        Cause_case{"StartWithoutNm",
                   s_starting_up,
                   s_running,
                   Virtio_command::Non,
                   s_none,
                   Cause_kind::start_up,
                   "start-up without NM"},
        // Starting up ignores commands: a P waiting there is no cause
        Cause_case{"NmFoundWithAKeyQueued",
                   s_starting_up,
                   s_running,
                   Virtio_command::PrepareSD,
                   s_found,
                   Cause_kind::network,
                   "NM services found"},
        Cause_case{
            "RunningN", s_running, s_nm_controlled, Virtio_command::NmControlled, s_found, Cause_kind::key, "key N"},
        Cause_case{"RunningS",
                   s_running,
                   s_nm_controlled,
                   Virtio_command::NMControlledPrepareSD,
                   s_found,
                   Cause_kind::key,
                   "key S"},
        Cause_case{"RunningP", s_running, s_preparing, Virtio_command::PrepareSD, s_none, Cause_kind::key, "key P"},
        Cause_case{
            "RunningPower", s_running, s_shutting_down, Virtio_command::Shutdown, s_none, Cause_kind::key, "key POWER"},
        Cause_case{"NmControlledR", s_nm_controlled, s_running, Virtio_command::Run, s_found, Cause_kind::key, "key R"},
        Cause_case{"AsleepAndKept",
                   s_nm_controlled,
                   s_post_run,
                   Virtio_command::Non,
                   s_kept_counting,
                   Cause_kind::network,
                   "network asleep, ECU kept alive"},
        Cause_case{"AsleepShutdown",
                   s_nm_controlled,
                   s_shutting_down,
                   Virtio_command::Non,
                   s_found,
                   Cause_kind::network,
                   "network asleep"},
        // a queued P does not lead to shutting down; the network did
        Cause_case{"AsleepWithPQueued",
                   s_nm_controlled,
                   s_shutting_down,
                   Virtio_command::PrepareSD,
                   s_found,
                   Cause_kind::network,
                   "network asleep"},
        Cause_case{"AsleepPrepare",
                   s_nm_controlled,
                   s_preparing,
                   Virtio_command::Non,
                   s_found,
                   Cause_kind::network,
                   "network asleep, prepare-SD"},
        Cause_case{"NmControlledPower",
                   s_nm_controlled,
                   s_shutting_down,
                   Virtio_command::Shutdown,
                   s_found,
                   Cause_kind::key,
                   "key POWER"},
        // COM alive wins over a queued power key
        Cause_case{"ComAliveOverPower",
                   s_post_run,
                   s_nm_controlled,
                   Virtio_command::Shutdown,
                   s_kept_counting,
                   Cause_kind::application,
                   "COM alive requested"},
        Cause_case{"KnockOut",
                   s_post_run,
                   s_shutting_down,
                   Virtio_command::Non,
                   s_kept_expired,
                   Cause_kind::knock_out,
                   "knock-out"},
        Cause_case{"KnockOutToPreparing",
                   s_post_run,
                   s_preparing,
                   Virtio_command::Non,
                   s_kept_expired,
                   Cause_kind::knock_out,
                   "knock-out"},
        Cause_case{"Released",
                   s_post_run,
                   s_shutting_down,
                   Virtio_command::Non,
                   s_found,
                   Cause_kind::application,
                   "ECU alive released"},
        Cause_case{"PostRunR", s_post_run, s_running, Virtio_command::Run, s_kept_counting, Cause_kind::key, "key R"},
        Cause_case{"PreparingR", s_preparing, s_resuming, Virtio_command::Run, s_none, Cause_kind::key, "key R"},
        // the power key waiting through Preparing is not what ends the standby round
        Cause_case{"StandbyRoundEnd",
                   s_preparing,
                   s_prepared_sd,
                   Virtio_command::Shutdown,
                   s_none,
                   Cause_kind::round_end,
                   "standby round ended"},
        Cause_case{"PreparedPower",
                   s_prepared_sd,
                   s_shutting_down,
                   Virtio_command::Shutdown,
                   s_none,
                   Cause_kind::key,
                   "key POWER"},
        Cause_case{"PreparedR", s_prepared_sd, s_resuming, Virtio_command::Run, s_none, Cause_kind::key, "key R"},
        Cause_case{"ResumingPower",
                   s_resuming,
                   s_shutting_down,
                   Virtio_command::Shutdown,
                   s_none,
                   Cause_kind::key,
                   "key POWER"},
        Cause_case{"ResumeRoundEnd",
                   s_resuming,
                   s_running,
                   Virtio_command::Non,
                   s_none,
                   Cause_kind::round_end,
                   "resume round ended"}),
    [](const ::testing::TestParamInfo<Cause_case>& param_info) { return std::string(param_info.param.name); });

struct Wait_case
{
    const char* name;
    std::uint32_t from;
    Cause_kind kind;
    bool waits;
};

void PrintTo(const Wait_case& value, std::ostream* out)
{
    *out << value.name;
}

class Transition_wait_test : public ::testing::TestWithParam<Wait_case>
{
};

TEST_P(Transition_wait_test, OnlyWaitingStatesCountTheirTimeToTheChange)
{
    EXPECT_EQ(waits_for(GetParam().from, Cause{GetParam().kind, ""}), GetParam().waits);
}

INSTANTIATE_TEST_SUITE_P(Rows,
                         Transition_wait_test,
                         ::testing::Values(Wait_case{"StartUp", s_starting_up, Cause_kind::network, true},
                                           Wait_case{"StandbyRound", s_preparing, Cause_kind::round_end, true},
                                           Wait_case{"ResumeRound", s_resuming, Cause_kind::round_end, true},
                                           Wait_case{"KeyDuringARound", s_preparing, Cause_kind::key, false},
                                           Wait_case{"RunningForHours", s_running, Cause_kind::key, false},
                                           Wait_case{"PostRun", s_post_run, Cause_kind::knock_out, false}),
                         [](const ::testing::TestParamInfo<Wait_case>& param_info)
                         { return std::string(param_info.param.name); });

} // namespace
} // namespace vela::ap::statemanager::status
