// What each state does when it becomes current (calls in order, log lines), how the post-run
// state counts its knock-out cycles, and when the shutting-down state takes the fast path.

#include "ara/log/testing/log_capture.h"
#include "statemanager/states/nm_controlled_state.hpp"
#include "statemanager/states/post_run_state.hpp"
#include "statemanager/states/prepared_sd_state.hpp"
#include "statemanager/states/preparing_state.hpp"
#include "statemanager/states/resuming_state.hpp"
#include "statemanager/states/running_state.hpp"
#include "statemanager/states/shutting_down_state.hpp"
#include "statemanager/states/startingup_state.hpp"
#include "statemanager/status/tests/mocks/mock_recorders.hpp"
#include "statemanager/tests/mocks/recording_collaborators.hpp"

#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vela::ap::statemanager::states
{
namespace
{

using ara::log::LogLevel;
using testing::Recording_collaborators;
using virtio::Virtio_command;
using World = Recording_collaborators::World;

/// The settings a state is created with and the flags it finds.
struct State_setup
{
    bool nm_usage = true;
    bool request_network_on_entry = true;
    unsigned int knockout = 3;
    unsigned int pm_timeout_s = 5;
    bool forced_shutdown_flag = false;
    bool fast_shutdown_possible = false;
};

/// Owns the collaborators and resets the process-wide flags around each test.
class State_test_base
{
  public:
    State_test_base(const State_test_base&) = delete;
    State_test_base& operator=(const State_test_base&) = delete;

  protected:
    State_test_base()
    {
        State_interface::set_prepare_SD_flag(false);
        State_interface::set_forced_shutdown_flag(false);
    }

    ~State_test_base()
    {
        State_interface::set_prepare_SD_flag(false);
        State_interface::set_forced_shutdown_flag(false);
    }

    std::unique_ptr<State_interface> make_state(State_id id, const State_setup& setup)
    {
        Recording_collaborators& c = m_collaborators;
        switch (id)
        {
        case s_starting_up:
            return std::make_unique<Startingup_state>(c.service_handler, c.status_writer, setup.nm_usage);
        case s_running:
            return std::make_unique<Running_state>(
                c.service_handler, c.status_writer, c.em_interface, setup.nm_usage, setup.request_network_on_entry);
        case s_nm_controlled:
            return std::make_unique<Nm_controlled_state>(c.service_handler, c.status_writer);
        case s_post_run:
            return std::make_unique<Post_run_state>(c.service_handler, c.status_writer, setup.knockout);
        case s_shutting_down:
            return std::make_unique<Shutting_down_state>(
                c.status_writer, c.em_interface, setup.pm_timeout_s, c.fast_shutdown_handler);
        case s_preparing:
            return std::make_unique<Preparing_state>(
                c.service_handler, c.status_writer, c.state_notifier, c.fast_shutdown_handler);
        case s_prepared_sd:
            return std::make_unique<PreparedSD_state>(c.status_writer);
        default:
            return std::make_unique<Resuming_state>(c.service_handler, c.status_writer, c.state_notifier);
        }
    }

    ara::log::testing::Log_capture m_capture;
    Recording_collaborators m_collaborators;
};

/// One state entered with one setup: every call it must make, in order, and its log lines.
struct Entry_row
{
    const char* label;
    State_id state;
    State_setup setup;
    std::vector<std::string> calls;
    std::vector<std::string> info_logs;
};

void PrintTo(const Entry_row& value, std::ostream* os)
{
    *os << value.label;
}

class State_entry_test : public State_test_base, public ::testing::TestWithParam<Entry_row>
{
};

TEST_P(State_entry_test, EnteringMakesItsCallsInOrderAndLogsThem)
{
    const Entry_row& row = GetParam();
    const auto sut = make_state(row.state, row.setup);
    State_interface::set_forced_shutdown_flag(row.setup.forced_shutdown_flag);
    m_collaborators.change_world([&](World& world)
                                 { world.fast_shutdown_possible = row.setup.fast_shutdown_possible; });

    sut->entering_state();

    EXPECT_EQ(m_collaborators.journal(), row.calls);
    EXPECT_EQ(m_capture.texts(), row.info_logs);
    for (const std::string& text : row.info_logs)
    {
        EXPECT_EQ(m_capture.count(text, LogLevel::kInfo), 1U) << text;
    }
    EXPECT_FALSE(State_interface::get_prepare_SD_flag());
}

State_setup with_nm(bool nm_usage, bool request_network_on_entry)
{
    State_setup setup;
    setup.nm_usage = nm_usage;
    setup.request_network_on_entry = request_network_on_entry;
    return setup;
}

State_setup shutdown_setup(bool forced_flag, bool possible, unsigned int pm_timeout_s = 5)
{
    State_setup setup;
    setup.forced_shutdown_flag = forced_flag;
    setup.fast_shutdown_possible = possible;
    setup.pm_timeout_s = pm_timeout_s;
    return setup;
}

INSTANTIATE_TEST_SUITE_P(
    EntryActions,
    State_entry_test,
    ::testing::Values(
        Entry_row{"StartingUp", s_starting_up, State_setup{}, {"status startingup"}, {"Entering startup state"}},
        Entry_row{"RunningRequestsNetworkWhenNmUsedAndAsked",
                  s_running,
                  with_nm(true, true),
                  {"status running", "request_network", "request_running"},
                  {"Entering running state"}},
        Entry_row{"RunningWithoutNmRequestsNoNetwork",
                  s_running,
                  with_nm(false, true),
                  {"status running", "request_running"},
                  {"Entering running state"}},
        Entry_row{"RunningNotAskedRequestsNoNetwork",
                  s_running,
                  with_nm(true, false),
                  {"status running", "request_running"},
                  {"Entering running state"}},
        Entry_row{"NmControlledAlwaysReleasesNetwork",
                  s_nm_controlled,
                  State_setup{},
                  {"status runnmcontrolled", "release_network"},
                  {"Entering NM controled state"}},
        Entry_row{"PostRun", s_post_run, State_setup{}, {"status postrun"}, {"Entering post run state"}},
        Entry_row{"PreparingStartsStandbyThenLooksUpPmThenStopsNm",
                  s_preparing,
                  State_setup{},
                  {"status preparing", "request_standby", "process_lookup", "standby"},
                  {"Entering preparing state"}},
        Entry_row{"PreparedSd", s_prepared_sd, State_setup{}, {"status prepared4sd"}, {"Entering PreparedSD state"}},
        Entry_row{"ResumingStartsResumeThenRestartsNm",
                  s_resuming,
                  State_setup{},
                  {"status resuming", "request_resume", "end_standby"},
                  {"Entering resuming state"}},
        Entry_row{"ShuttingDownWithoutFlagAsksNothingAndShutsDownNormally",
                  s_shutting_down,
                  shutdown_setup(false, true),
                  {"status shuttingdown", "request_shutdown"},
                  {"Entering shutdown state", "Normal shutdown executed"}},
        Entry_row{"ShuttingDownWithFlagButNoPmDaemonShutsDownNormally",
                  s_shutting_down,
                  shutdown_setup(true, false),
                  {"status shuttingdown", "is_possible", "request_shutdown"},
                  {"Entering shutdown state", "Normal shutdown executed"}},
        Entry_row{"ShuttingDownWithFlagAndPmDaemonShutsDownFastInMilliseconds",
                  s_shutting_down,
                  shutdown_setup(true, true),
                  {"status shuttingdown", "is_possible", "start_fast_shutdown(5000)"},
                  {"Entering shutdown state", "Fast shutdown executed"}},
        Entry_row{"ShuttingDownFastWithLargestTimeoutDoesNotOverflow",
                  s_shutting_down,
                  shutdown_setup(true, true, 0xFFFFFFFFU),
                  {"status shuttingdown", "is_possible", "start_fast_shutdown(4294967295000)"},
                  {"Entering shutdown state", "Fast shutdown executed"}},
        Entry_row{"ShuttingDownFastWithZeroTimeout",
                  s_shutting_down,
                  shutdown_setup(true, true, 0),
                  {"status shuttingdown", "is_possible", "start_fast_shutdown(0)"},
                  {"Entering shutdown state", "Fast shutdown executed"}}),
    [](const ::testing::TestParamInfo<Entry_row>& param) { return std::string{param.param.label}; });

/// Whether the shutting-down state reports a forced shutdown, and what it must ask for that.
struct Forced_row
{
    const char* label;
    bool flag;
    bool possible;
    bool expected;
    std::vector<std::string> queries;
};

void PrintTo(const Forced_row& value, std::ostream* os)
{
    *os << value.label;
}

class Shutting_down_state_test : public State_test_base, public ::testing::TestWithParam<Forced_row>
{
};

TEST_P(Shutting_down_state_test, ForcedOnlyWithFlagAndPossibleFastShutdown)
{
    const auto sut = make_state(s_shutting_down, State_setup{});
    State_interface::set_forced_shutdown_flag(GetParam().flag);
    m_collaborators.change_world([&](World& world) { world.fast_shutdown_possible = GetParam().possible; });

    const bool forced = sut->is_forced_shutdown();

    EXPECT_EQ(forced, GetParam().expected);
    EXPECT_EQ(m_collaborators.journal(), GetParam().queries);
}

INSTANTIATE_TEST_SUITE_P(Forced,
                         Shutting_down_state_test,
                         ::testing::Values(Forced_row{"NoFlagAsksNothing", false, true, false, {}},
                                           Forced_row{"FlagWithoutPmDaemon", true, false, false, {"is_possible"}},
                                           Forced_row{"FlagWithPmDaemon", true, true, true, {"is_possible"}}),
                         [](const ::testing::TestParamInfo<Forced_row>& param)
                         { return std::string{param.param.label}; });

/// A post-run stay while an application keeps the ECU alive and nothing else happens.
struct Knockout_row
{
    const char* label;
    unsigned int knockout;
    bool prepare_sd_flag;
    State_id expected;
};

void PrintTo(const Knockout_row& value, std::ostream* os)
{
    *os << value.label;
}

class Post_run_knockout_test : public State_test_base, public ::testing::TestWithParam<Knockout_row>
{
  protected:
    /// Runs cycles as the main loop does (check, then tick while staying) until the state leaves;
    /// gives back the number of ticks and the target.
    std::pair<unsigned int, unsigned int> cycles_until_transition(State_interface& state)
    {
        unsigned int ticks = 0;
        for (;;)
        {
            const unsigned int next = state.check_transition(Virtio_command::Non);
            if (next != s_no_transition || ticks > 1000)
            {
                return {ticks, next};
            }
            state.tick();
            ++ticks;
        }
    }
};

TEST_P(Post_run_knockout_test, LeavesOnTheCycleAfterTheConfiguredNumberOfTicks)
{
    State_setup setup;
    setup.knockout = GetParam().knockout;
    const auto sut = make_state(s_post_run, setup);
    m_collaborators.change_world([](World& world) { world.apps_keep_ecu_alive = true; });
    State_interface::set_prepare_SD_flag(GetParam().prepare_sd_flag);
    sut->entering_state();

    const auto [ticks, target] = cycles_until_transition(*sut);

    EXPECT_EQ(ticks, GetParam().knockout);
    EXPECT_EQ(target, GetParam().expected);
    EXPECT_EQ(m_capture.count("Post rumn tick action", LogLevel::kDebug), GetParam().knockout);
    EXPECT_FALSE(State_interface::get_prepare_SD_flag());
}

INSTANTIATE_TEST_SUITE_P(Knockout,
                         Post_run_knockout_test,
                         ::testing::Values(Knockout_row{"ZeroLeavesAtOnce", 0, false, s_shutting_down},
                                           Knockout_row{"OneTick", 1, false, s_shutting_down},
                                           Knockout_row{"ThreeTicksThenShutsDown", 3, false, s_shutting_down},
                                           Knockout_row{"ThreeTicksThenPrepares", 3, true, s_preparing}),
                         [](const ::testing::TestParamInfo<Knockout_row>& param)
                         { return std::string{param.param.label}; });

TEST_F(Post_run_knockout_test, EachEntryRestartsTheKnockoutTimer)
{
    State_setup setup;
    setup.knockout = 3;
    const auto sut = make_state(s_post_run, setup);
    m_collaborators.change_world([](World& world) { world.apps_keep_ecu_alive = true; });
    sut->entering_state();
    ASSERT_EQ(cycles_until_transition(*sut).first, 3U);

    // the machine came back to Post Run later
    sut->entering_state();
    const auto [ticks, target] = cycles_until_transition(*sut);

    EXPECT_EQ(ticks, 3U);
    EXPECT_EQ(target, s_shutting_down);
}

TEST_F(Post_run_knockout_test, CyclesLeftAreRecordedAtEntryAndEachTick)
{
    const auto recorder = std::make_shared<::testing::StrictMock<status::testing::Mock_machine_recorder>>();
    Post_run_state sut(m_collaborators.service_handler, m_collaborators.status_writer, 2, recorder);
    ::testing::InSequence in_order;
    EXPECT_CALL(*recorder, knockout_changed(2U, 2U));
    EXPECT_CALL(*recorder, knockout_changed(1U, 2U));
    EXPECT_CALL(*recorder, knockout_changed(0U, 2U)).Times(2);

    sut.entering_state();
    sut.tick();
    sut.tick();
    sut.tick();
}

} // namespace
} // namespace vela::ap::statemanager::states
