// Every row of the eight states' transition tables: the command at the head of the queue, the
// answers of the collaborators in the order they must be asked (each asked afresh, and only
// when the rows before have not decided), and what the state must answer, log and leave in the
// process-wide flags.

#include "ara/log/testing/log_capture.h"
#include "statemanager/states/nm_controlled_state.hpp"
#include "statemanager/states/post_run_state.hpp"
#include "statemanager/states/prepared_sd_state.hpp"
#include "statemanager/states/preparing_state.hpp"
#include "statemanager/states/resuming_state.hpp"
#include "statemanager/states/running_state.hpp"
#include "statemanager/states/shutting_down_state.hpp"
#include "statemanager/states/startingup_state.hpp"
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
using testing::Scripted_answer;
using virtio::Virtio_command;

// The queries by the names the tables use.
constexpr const char* s_nm_found = "nm_interface_available";
constexpr const char* s_asleep = "ecu_in_sleep_mode";
constexpr const char* s_kept = "apps_keep_ecu_alive";
constexpr const char* s_com_kept = "apps_keep_com_alive";
constexpr const char* s_busy = "check_request_status";

constexpr Virtio_command s_no_command_value = static_cast<Virtio_command>(0xFF);

/// One row of a transition table.
struct Transition_row
{
    const char* label;
    State_id state;
    Virtio_command command;
    /// The queries in the order they must be asked, with their answers.
    std::vector<Scripted_answer> answers;
    bool flag_before;
    State_id expected;
    bool flag_after;
    /// The one message the check writes, or nullptr for none.
    const char* log;
    LogLevel log_level = LogLevel::kVerbose;
    bool nm_usage = true;
    unsigned int knockout = 3;
    bool forced_after = false;
};

void PrintTo(const Transition_row& value, std::ostream* os)
{
    *os << value.label;
}

class State_transition_test : public ::testing::TestWithParam<Transition_row>
{
  protected:
    State_transition_test()
    {
        State_interface::set_prepare_SD_flag(false);
        State_interface::set_forced_shutdown_flag(false);
    }

    ~State_transition_test() override
    {
        State_interface::set_prepare_SD_flag(false);
        State_interface::set_forced_shutdown_flag(false);
    }

    std::unique_ptr<State_interface> make_state(const Transition_row& row)
    {
        Recording_collaborators& c = m_collaborators;
        switch (row.state)
        {
        case s_starting_up:
            return std::make_unique<Startingup_state>(c.service_handler, c.status_writer, row.nm_usage);
        case s_running:
            return std::make_unique<Running_state>(
                c.service_handler, c.status_writer, c.em_interface, row.nm_usage, true);
        case s_nm_controlled:
            return std::make_unique<Nm_controlled_state>(c.service_handler, c.status_writer);
        case s_post_run:
            return std::make_unique<Post_run_state>(c.service_handler, c.status_writer, row.knockout);
        case s_shutting_down:
            return std::make_unique<Shutting_down_state>(c.status_writer, c.em_interface, 5, c.fast_shutdown_handler);
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

TEST_P(State_transition_test, FirstHoldingRowDecidesAfterAskingOnlyWhatItNeeds)
{
    const Transition_row& row = GetParam();
    const auto sut = make_state(row);
    State_interface::set_prepare_SD_flag(row.flag_before);
    m_collaborators.script(row.answers);

    const unsigned int result = sut->check_transition(row.command);

    EXPECT_EQ(result, row.expected);
    std::vector<std::string> expected_queries;
    for (const Scripted_answer& answer : row.answers)
    {
        expected_queries.emplace_back(answer.query);
    }
    EXPECT_EQ(m_collaborators.queries(), expected_queries);
    EXPECT_TRUE(m_collaborators.actions().empty());
    EXPECT_EQ(State_interface::get_prepare_SD_flag(), row.flag_after);
    EXPECT_EQ(State_interface::get_forced_shutdown_flag(), row.forced_after);
    if (row.log == nullptr)
    {
        EXPECT_TRUE(m_capture.texts().empty());
    }
    else
    {
        EXPECT_EQ(m_capture.texts(), std::vector<std::string>{row.log});
        EXPECT_EQ(m_capture.count(row.log, row.log_level), 1U);
    }
}

std::string row_name(const ::testing::TestParamInfo<Transition_row>& param)
{
    return param.param.label;
}

const char* const s_waiting_for_nm = "Transition form startup to running not possible. Waiting for nm interface.";

INSTANTIATE_TEST_SUITE_P(
    StartingUp,
    State_transition_test,
    ::testing::Values(
        Transition_row{"NmDisallowedRunsWithoutAsking",
                       s_starting_up,
                       Virtio_command::Non,
                       {},
                       false,
                       s_running,
                       false,
                       nullptr,
                       LogLevel::kVerbose,
                       false},
        Transition_row{"NmDisallowedIgnoresShutdown",
                       s_starting_up,
                       Virtio_command::Shutdown,
                       {},
                       false,
                       s_running,
                       false,
                       nullptr,
                       LogLevel::kVerbose,
                       false},
        Transition_row{
            "NmFoundRuns", s_starting_up, Virtio_command::Non, {{s_nm_found, true}}, false, s_running, false, nullptr},
        Transition_row{"NmNotFoundWaitsAndSaysSo",
                       s_starting_up,
                       Virtio_command::Non,
                       {{s_nm_found, false}},
                       false,
                       s_no_transition,
                       false,
                       s_waiting_for_nm,
                       LogLevel::kInfo},
        Transition_row{"NmNotFoundIgnoresShutdown",
                       s_starting_up,
                       Virtio_command::Shutdown,
                       {{s_nm_found, false}},
                       true,
                       s_no_transition,
                       true,
                       s_waiting_for_nm,
                       LogLevel::kInfo}),
    row_name);

INSTANTIATE_TEST_SUITE_P(
    Running,
    State_transition_test,
    ::testing::Values(
        Transition_row{"NmControlledClearsFlag",
                       s_running,
                       Virtio_command::NmControlled,
                       {},
                       true,
                       s_nm_controlled,
                       false,
                       "Transition from Running to NM controlled possible. Prepare SD flag set to false state."},
        Transition_row{"NmControlledWithoutNmStays",
                       s_running,
                       Virtio_command::NmControlled,
                       {},
                       true,
                       s_no_transition,
                       true,
                       nullptr,
                       LogLevel::kVerbose,
                       false},
        Transition_row{"NmControlledPrepareSdSetsFlag",
                       s_running,
                       Virtio_command::NMControlledPrepareSD,
                       {},
                       false,
                       s_nm_controlled,
                       true,
                       "Transition from Running to NM controlled possible.  Prepare SD flag set to true state."},
        Transition_row{"NmControlledPrepareSdWithoutNmStays",
                       s_running,
                       Virtio_command::NMControlledPrepareSD,
                       {},
                       false,
                       s_no_transition,
                       false,
                       nullptr,
                       LogLevel::kVerbose,
                       false},
        Transition_row{"PrepareSdPrepares",
                       s_running,
                       Virtio_command::PrepareSD,
                       {},
                       true,
                       s_preparing,
                       true,
                       "Transition form Running to Preparing Shutting Down possible."},
        Transition_row{"PrepareSdWithoutNmPrepares",
                       s_running,
                       Virtio_command::PrepareSD,
                       {},
                       false,
                       s_preparing,
                       false,
                       "Transition form Running to Preparing Shutting Down possible.",
                       LogLevel::kVerbose,
                       false},
        Transition_row{"ShutdownShutsDown",
                       s_running,
                       Virtio_command::Shutdown,
                       {},
                       true,
                       s_shutting_down,
                       true,
                       "Transition form Running to Shutting Down possible."},
        Transition_row{"NoCommandStays", s_running, Virtio_command::Non, {}, true, s_no_transition, true, nullptr},
        Transition_row{"RunStays", s_running, Virtio_command::Run, {}, false, s_no_transition, false, nullptr},
        Transition_row{"UnknownValueStays", s_running, s_no_command_value, {}, false, s_no_transition, false, nullptr}),
    row_name);

const char* const s_nm_to_running = "Transition form NM controled state to Running possible.";
const char* const s_nm_to_post_run = "Transition form NM controled state to Post Run possible.";
const char* const s_nm_to_shutdown = "Transition form NM controled state to Shutting Down possible.";
const char* const s_nm_to_preparing = "Transition form NM controled state to Preparing (transient) possible.";

INSTANTIATE_TEST_SUITE_P(
    NmControlled,
    State_transition_test,
    ::testing::Values(
        Transition_row{"RunRunsWithoutAskingAndClearsFlag",
                       s_nm_controlled,
                       Virtio_command::Run,
                       {},
                       true,
                       s_running,
                       false,
                       s_nm_to_running},
        Transition_row{"SleepWhileKeptGoesToPostRunFlagUntouched",
                       s_nm_controlled,
                       Virtio_command::Non,
                       {{s_asleep, true}, {s_kept, true}},
                       true,
                       s_post_run,
                       true,
                       s_nm_to_post_run},
        Transition_row{"SleepWhileKeptWinsOverShutdown",
                       s_nm_controlled,
                       Virtio_command::Shutdown,
                       {{s_asleep, true}, {s_kept, true}},
                       false,
                       s_post_run,
                       false,
                       s_nm_to_post_run},
        Transition_row{"ShutdownWhileAwakeShutsDownAndClearsFlag",
                       s_nm_controlled,
                       Virtio_command::Shutdown,
                       {{s_asleep, false}},
                       true,
                       s_shutting_down,
                       false,
                       s_nm_to_shutdown},
        Transition_row{"SleepNotKeptWithoutFlagShutsDown",
                       s_nm_controlled,
                       Virtio_command::Non,
                       {{s_asleep, true}, {s_kept, false}, {s_asleep, true}, {s_kept, false}},
                       false,
                       s_shutting_down,
                       false,
                       s_nm_to_shutdown},
        Transition_row{"PrepareSdWhileAwakePreparesAndClearsFlag",
                       s_nm_controlled,
                       Virtio_command::PrepareSD,
                       {{s_asleep, false}, {s_asleep, false}},
                       true,
                       s_preparing,
                       false,
                       s_nm_to_preparing},
        Transition_row{
            "SleepNotKeptWithFlagPreparesAndClearsFlag",
            s_nm_controlled,
            Virtio_command::Non,
            {{s_asleep, true}, {s_kept, false}, {s_asleep, true}, {s_kept, false}, {s_asleep, true}, {s_kept, false}},
            true,
            s_preparing,
            false,
            s_nm_to_preparing},
        Transition_row{"AwakeStays",
                       s_nm_controlled,
                       Virtio_command::Non,
                       {{s_asleep, false}, {s_asleep, false}, {s_asleep, false}},
                       true,
                       s_no_transition,
                       true,
                       nullptr},
        Transition_row{"NmControlledCommandIsNotActedOn",
                       s_nm_controlled,
                       Virtio_command::NmControlled,
                       {{s_asleep, false}, {s_asleep, false}, {s_asleep, false}},
                       false,
                       s_no_transition,
                       false,
                       nullptr},
        Transition_row{"NmControlledPrepareSdCommandIsNotActedOn",
                       s_nm_controlled,
                       Virtio_command::NMControlledPrepareSD,
                       {{s_asleep, false}, {s_asleep, false}, {s_asleep, false}},
                       false,
                       s_no_transition,
                       false,
                       nullptr},
        Transition_row{"WakingBetweenTestsStays",
                       s_nm_controlled,
                       Virtio_command::Non,
                       {{s_asleep, true}, {s_kept, false}, {s_asleep, false}, {s_asleep, false}},
                       false,
                       s_no_transition,
                       false,
                       nullptr},
        Transition_row{
            "KeptAgainBetweenTestsStays",
            s_nm_controlled,
            Virtio_command::Non,
            {{s_asleep, true}, {s_kept, false}, {s_asleep, true}, {s_kept, true}, {s_asleep, true}, {s_kept, true}},
            true,
            s_no_transition,
            true,
            nullptr}),
    row_name);

const char* const s_post_run_to_nm = "Transition form Post Run state to NmControlled possible.";
const char* const s_post_run_to_shutdown = "Transition form Post Run state to Shutting Down possible.";
const char* const s_post_run_to_running = "Transition form Post Run state to Running possible.";
const char* const s_post_run_to_preparing = "Transition form Post Run state to Preparing (transient) possible.";

INSTANTIATE_TEST_SUITE_P(PostRun,
                         State_transition_test,
                         ::testing::Values(Transition_row{"ComKeptGoesBackToNmFlagUntouched",
                                                          s_post_run,
                                                          Virtio_command::Non,
                                                          {{s_com_kept, true}},
                                                          true,
                                                          s_nm_controlled,
                                                          true,
                                                          s_post_run_to_nm},
                                           Transition_row{"ComKeptWinsOverQueuedShutdown",
                                                          s_post_run,
                                                          Virtio_command::Shutdown,
                                                          {{s_com_kept, true}},
                                                          false,
                                                          s_nm_controlled,
                                                          false,
                                                          s_post_run_to_nm},
                                           Transition_row{"ShutdownShutsDownAndClearsFlag",
                                                          s_post_run,
                                                          Virtio_command::Shutdown,
                                                          {{s_com_kept, false}},
                                                          true,
                                                          s_shutting_down,
                                                          false,
                                                          s_post_run_to_shutdown},
                                           Transition_row{"ReleasedWithoutFlagShutsDown",
                                                          s_post_run,
                                                          Virtio_command::Non,
                                                          {{s_com_kept, false}, {s_kept, false}},
                                                          false,
                                                          s_shutting_down,
                                                          false,
                                                          s_post_run_to_shutdown},
                                           Transition_row{"KnockedOutWithoutFlagShutsDown",
                                                          s_post_run,
                                                          Virtio_command::Non,
                                                          {{s_com_kept, false}, {s_kept, true}},
                                                          false,
                                                          s_shutting_down,
                                                          false,
                                                          s_post_run_to_shutdown,
                                                          LogLevel::kVerbose,
                                                          true,
                                                          0},
                                           Transition_row{"ReleasedWithoutFlagWinsOverRun",
                                                          s_post_run,
                                                          Virtio_command::Run,
                                                          {{s_com_kept, false}, {s_kept, false}},
                                                          false,
                                                          s_shutting_down,
                                                          false,
                                                          s_post_run_to_shutdown},
                                           Transition_row{"RunRunsAndClearsFlag",
                                                          s_post_run,
                                                          Virtio_command::Run,
                                                          {{s_com_kept, false}, {s_kept, false}},
                                                          true,
                                                          s_running,
                                                          false,
                                                          s_post_run_to_running},
                                           Transition_row{"RunWhileKeptRuns",
                                                          s_post_run,
                                                          Virtio_command::Run,
                                                          {{s_com_kept, false}, {s_kept, true}},
                                                          false,
                                                          s_running,
                                                          false,
                                                          s_post_run_to_running},
                                           Transition_row{"PrepareSdWhileKeptPreparesAndClearsFlag",
                                                          s_post_run,
                                                          Virtio_command::PrepareSD,
                                                          {{s_com_kept, false}, {s_kept, true}},
                                                          true,
                                                          s_preparing,
                                                          false,
                                                          s_post_run_to_preparing},
                                           Transition_row{"ReleasedWithFlagPreparesAndClearsFlag",
                                                          s_post_run,
                                                          Virtio_command::Non,
                                                          {{s_com_kept, false}, {s_kept, false}, {s_kept, false}},
                                                          true,
                                                          s_preparing,
                                                          false,
                                                          s_post_run_to_preparing},
                                           Transition_row{"KnockedOutWithFlagPrepares",
                                                          s_post_run,
                                                          Virtio_command::Non,
                                                          {{s_com_kept, false}, {s_kept, true}, {s_kept, true}},
                                                          true,
                                                          s_preparing,
                                                          false,
                                                          s_post_run_to_preparing,
                                                          LogLevel::kVerbose,
                                                          true,
                                                          0},
                                           Transition_row{"KeptBeforeKnockOutStays",
                                                          s_post_run,
                                                          Virtio_command::Non,
                                                          {{s_com_kept, false}, {s_kept, true}, {s_kept, true}},
                                                          true,
                                                          s_no_transition,
                                                          true,
                                                          nullptr},
                                           Transition_row{"NmControlledCommandIsNotActedOn",
                                                          s_post_run,
                                                          Virtio_command::NmControlled,
                                                          {{s_com_kept, false}, {s_kept, true}, {s_kept, true}},
                                                          false,
                                                          s_no_transition,
                                                          false,
                                                          nullptr},
                                           Transition_row{"ReleasedBetweenTestsWithFlagPrepares",
                                                          s_post_run,
                                                          Virtio_command::Non,
                                                          {{s_com_kept, false}, {s_kept, true}, {s_kept, false}},
                                                          true,
                                                          s_preparing,
                                                          false,
                                                          s_post_run_to_preparing}),
                         row_name);

INSTANTIATE_TEST_SUITE_P(Preparing,
                         State_transition_test,
                         ::testing::Values(Transition_row{"RunResumesWithoutAsking",
                                                          s_preparing,
                                                          Virtio_command::Run,
                                                          {},
                                                          true,
                                                          s_resuming,
                                                          true,
                                                          "Transition from Preparing to Resuming"},
                                           Transition_row{"StaysWhileStandbySequenceRuns",
                                                          s_preparing,
                                                          Virtio_command::Non,
                                                          {{s_busy, true}},
                                                          true,
                                                          s_no_transition,
                                                          true,
                                                          nullptr},
                                           Transition_row{"ShutdownIsNotActedOnWhileSequenceRuns",
                                                          s_preparing,
                                                          Virtio_command::Shutdown,
                                                          {{s_busy, true}},
                                                          false,
                                                          s_no_transition,
                                                          false,
                                                          nullptr},
                                           Transition_row{"SequenceEndedGoesToPreparedSd",
                                                          s_preparing,
                                                          Virtio_command::Non,
                                                          {{s_busy, false}},
                                                          true,
                                                          s_prepared_sd,
                                                          true,
                                                          nullptr},
                                           Transition_row{"SequenceEndedWithShutdownQueuedGoesToPreparedSd",
                                                          s_preparing,
                                                          Virtio_command::Shutdown,
                                                          {{s_busy, false}},
                                                          false,
                                                          s_prepared_sd,
                                                          false,
                                                          nullptr},
                                           Transition_row{"PrepareSdIsNotActedOn",
                                                          s_preparing,
                                                          Virtio_command::PrepareSD,
                                                          {{s_busy, true}},
                                                          false,
                                                          s_no_transition,
                                                          false,
                                                          nullptr}),
                         row_name);

INSTANTIATE_TEST_SUITE_P(
    PreparedSd,
    State_transition_test,
    ::testing::Values(
        Transition_row{"RunResumes",
                       s_prepared_sd,
                       Virtio_command::Run,
                       {},
                       true,
                       s_resuming,
                       true,
                       "Transition from PreparedSD to Resuming"},
        Transition_row{"ShutdownSetsForcedShutdownFlag",
                       s_prepared_sd,
                       Virtio_command::Shutdown,
                       {},
                       true,
                       s_shutting_down,
                       true,
                       "Transition from PreparedSD to Shutting Down",
                       LogLevel::kVerbose,
                       true,
                       3,
                       true},
        Transition_row{
            "NoCommandWaits", s_prepared_sd, Virtio_command::Non, {}, false, s_no_transition, false, nullptr},
        Transition_row{
            "PrepareSdWaits", s_prepared_sd, Virtio_command::PrepareSD, {}, false, s_no_transition, false, nullptr},
        Transition_row{"NmControlledWaits",
                       s_prepared_sd,
                       Virtio_command::NmControlled,
                       {},
                       false,
                       s_no_transition,
                       false,
                       nullptr}),
    row_name);

INSTANTIATE_TEST_SUITE_P(
    Resuming,
    State_transition_test,
    ::testing::Values(
        Transition_row{"ShutdownShutsDownWithoutAsking",
                       s_resuming,
                       Virtio_command::Shutdown,
                       {},
                       true,
                       s_shutting_down,
                       true,
                       "Transition form Resuming state to Shutting Down possible."},
        Transition_row{"StaysWhileResumeSequenceRuns",
                       s_resuming,
                       Virtio_command::Non,
                       {{s_busy, true}},
                       false,
                       s_no_transition,
                       false,
                       nullptr},
        Transition_row{"RunIsNotActedOnWhileSequenceRuns",
                       s_resuming,
                       Virtio_command::Run,
                       {{s_busy, true}},
                       false,
                       s_no_transition,
                       false,
                       nullptr},
        Transition_row{
            "SequenceEndedRuns", s_resuming, Virtio_command::Non, {{s_busy, false}}, true, s_running, true, nullptr},
        Transition_row{"SequenceEndedWithPrepareSdQueuedRuns",
                       s_resuming,
                       Virtio_command::PrepareSD,
                       {{s_busy, false}},
                       false,
                       s_running,
                       false,
                       nullptr}),
    row_name);

INSTANTIATE_TEST_SUITE_P(
    ShuttingDown,
    State_transition_test,
    ::testing::Values(
        Transition_row{"RunIsIgnored", s_shutting_down, Virtio_command::Run, {}, true, s_no_transition, true, nullptr},
        Transition_row{
            "ShutdownIsIgnored", s_shutting_down, Virtio_command::Shutdown, {}, false, s_no_transition, false, nullptr},
        Transition_row{"PrepareSdIsIgnored",
                       s_shutting_down,
                       Virtio_command::PrepareSD,
                       {},
                       false,
                       s_no_transition,
                       false,
                       nullptr},
        Transition_row{
            "NoCommandStays", s_shutting_down, Virtio_command::Non, {}, false, s_no_transition, false, nullptr}),
    row_name);

} // namespace
} // namespace vela::ap::statemanager::states
