#include "ara/log/testing/log_capture.h"
#include "statemanager/states/state_ids.hpp"
#include "statemanager/status/status_board.hpp"
#include "statemanager/status/tests/mocks/mock_recorders.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <thread>

namespace vela::ap::statemanager::status
{
namespace
{

using namespace std::chrono_literals;
using namespace states;
using ::testing::_;
using ::testing::NiceMock;
using ::testing::SaveArg;
using virtio::Virtio_command;
using Clock = std::chrono::steady_clock;
using Nm_call = Holder_recorder_interface::Nm_call;

Client_row row(const std::string& name, Client_answer answer, std::uint32_t latency_ms, const std::string& state = "")
{
    Client_row result;
    result.name = name;
    result.answer = answer;
    result.answered_state = state;
    result.code = answer == Client_answer::state ? 0 : answer == Client_answer::error ? 1 : 3;
    result.latency_ms = latency_ms;
    return result;
}

Step_record step(std::uint64_t serial, Client_group group, std::vector<Client_row> clients)
{
    const auto now = Clock::now();
    return Step_record{serial, group, "kPrepSD", 0, now - 20ms, now, std::move(clients)};
}

class Status_board_test : public ::testing::Test
{
  protected:
    /// The loop's change from one state to another, its entry taking entry.
    void change(std::uint32_t from,
                std::uint32_t to,
                Virtio_command command = Virtio_command::Non,
                std::chrono::microseconds entry = 100us)
    {
        const auto started = Clock::now();
        sut.transition(Transition_facts{from, to, command, started, started + entry});
    }

    ara::log::testing::Log_capture m_capture;
    Status_board sut{true};
};

TEST_F(Status_board_test, HoldersComeAndGoWithTheirRequestsAndKeepTheirStart)
{
    sut.holder_changed(Holder_kind::ecu_alive, "EcuAlive_Diagnostics", true, {}, 0);
    sut.holder_changed(Holder_kind::com_alive, "ComAlive_Telematics", true, {0x01, 0, 0, 0}, 3);
    sut.holder_changed(Holder_kind::cwu, "CarWakeUp_Telematics", true, {}, 1);
    const auto first = sut.holders();

    // the same application asks for more bits, another releases
    sut.holder_changed(Holder_kind::com_alive, "ComAlive_Telematics", true, {0x03, 0, 0, 0}, 3);
    sut.holder_changed(Holder_kind::ecu_alive, "EcuAlive_Diagnostics", false, {}, 0);
    const auto second = sut.holders();

    ASSERT_EQ(first.holders.size(), 3U);
    ASSERT_EQ(second.holders.size(), 2U);
    EXPECT_EQ(second.holders[0].kind, Holder_kind::com_alive);
    EXPECT_EQ(second.holders[0].cab_bits, (std::vector<std::uint8_t>{0x03, 0, 0, 0}));
    EXPECT_EQ(second.holders[0].since_ms, first.holders[1].since_ms);
    EXPECT_EQ(second.holders[1].instance, "CarWakeUp_Telematics");
    EXPECT_EQ(second.holders[1].ac, 1);
    EXPECT_LE(second.holders[1].since_ms, second.now_ms);
    EXPECT_GT(second.holders[1].since_wall_ms, 0U);
}

TEST_F(Status_board_test, SameInstanceHoldsEachKindOnItsOwn)
{
    sut.holder_changed(Holder_kind::com_alive, "app", true, {0x01}, 2);
    sut.holder_changed(Holder_kind::cwu, "app", true, {}, 2);

    sut.holder_changed(Holder_kind::cwu, "app", false, {}, 0);

    const auto reply = sut.holders();
    ASSERT_EQ(reply.holders.size(), 1U);
    EXPECT_EQ(reply.holders[0].kind, Holder_kind::com_alive);
}

TEST_F(Status_board_test, NmSideKeepsTheLastOfEachCallBounded)
{
    sut.nm_call(Nm_call::request_network, {0, 0, 0, 1});
    sut.nm_call(Nm_call::release_network, {1, 0, 0, 0});
    sut.nm_call(Nm_call::set_user_data, {0x80, 0, 0});
    sut.network_state_received(std::vector<std::uint8_t>(1000, 0xAB));
    sut.ecu_state_changed(1);
    sut.nm_services_found();
    sut.nm_sending_changed(false);

    const Nm_view nm = sut.holders().nm;

    EXPECT_TRUE(nm.used);
    EXPECT_TRUE(nm.found);
    EXPECT_FALSE(nm.sending);
    EXPECT_EQ(nm.last_requested, (std::vector<std::uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(nm.last_released, (std::vector<std::uint8_t>{1, 0, 0, 0}));
    EXPECT_EQ(nm.user_data, (std::vector<std::uint8_t>{0x80, 0, 0}));
    EXPECT_EQ(nm.network_state.size(), Status_board::s_max_nm_bytes);
    EXPECT_EQ(nm.network_state_size, 1000U);
    EXPECT_EQ(nm.ecu_state, 1);
}

TEST_F(Status_board_test, TransitionIsReportedLoggedAndPublished)
{
    NiceMock<testing::Mock_status_publisher> publisher;
    State_value published_state;
    Transition_report published;
    change(s_starting_up, s_running);
    EXPECT_CALL(publisher, publish(_, _))
        .WillOnce(::testing::DoAll(SaveArg<0>(&published_state), SaveArg<1>(&published)));
    sut.set_publisher(&publisher);

    change(s_running, s_preparing, Virtio_command::PrepareSD, 2500us);

    const auto history = sut.history();
    ASSERT_EQ(history.size(), 2U);
    const auto& report = history[1];
    EXPECT_EQ(report.serial, 2U);
    EXPECT_EQ(report.from, s_running);
    EXPECT_EQ(report.to, s_preparing);
    EXPECT_EQ(report.cause_kind, Cause_kind::key);
    EXPECT_EQ(report.cause, "key P");
    EXPECT_EQ(report.entry_us, 2500U);
    EXPECT_EQ(report.duration_ms, 2U);
    EXPECT_EQ(published.serial, 2U);
    EXPECT_EQ(published_state.word, "preparing");
    EXPECT_EQ(sut.current_state().id, s_preparing);
    EXPECT_EQ(history[0].cause, "start-up without NM");
    EXPECT_TRUE(
        m_capture.contains("Transition report: from=running to=preparing cause=\"key P\" total_ms=2 slowest=-"));
}

TEST_F(Status_board_test, RoundEndReportCarriesItsStepsRowsAndTheWaitInItsDuration)
{
    change(s_running, s_preparing, Virtio_command::PrepareSD);
    sut.step_completed(step(1, Client_group::dcm, {row("diag::dcm", Client_answer::state, 12, "kPrepSD")}));
    sut.step_completed(step(2,
                            Client_group::apps,
                            {row("navigation", Client_answer::state, 30, "kPrepSD"),
                             row("stuck", Client_answer::timeout, 2000),
                             row("broken", Client_answer::error, 5, "kOn"),
                             row("gone", Client_answer::dropped, 7)}));
    sut.step_completed(step(3, Client_group::dem, {}));
    std::this_thread::sleep_for(20ms);

    change(s_preparing, s_prepared_sd);

    const auto report = sut.history().back();
    EXPECT_EQ(report.cause_kind, Cause_kind::round_end);
    ASSERT_EQ(report.steps.size(), 3U);
    EXPECT_EQ(report.steps[1].group, Client_group::apps);
    EXPECT_EQ(report.steps[1].clients, 4U);
    EXPECT_EQ(report.steps[1].total_ms, 20U);
    ASSERT_EQ(report.clients.size(), 5U);
    EXPECT_EQ(report.clients[0].group, Client_group::dcm);
    EXPECT_EQ(report.clients[0].step, 0U);
    EXPECT_EQ(report.clients[2].step, 1U);
    EXPECT_EQ(report.clients[2].group, Client_group::apps);
    EXPECT_GE(report.time_in_from_ms, 20U);
    EXPECT_GE(report.duration_ms, report.time_in_from_ms);
    EXPECT_LE(report.duration_ms, report.time_in_from_ms + 1);
    EXPECT_TRUE(m_capture.contains_fragment("cause=\"standby round ended\""));
    EXPECT_TRUE(m_capture.contains_fragment("slowest=\"stuck (apps) timeout 2000 ms\""));
    // the rows went with that report; the next state starts afresh
    change(s_prepared_sd, s_resuming, Virtio_command::Run);
    EXPECT_TRUE(sut.history().back().clients.empty());
}

TEST_F(Status_board_test, StepAskedForByTheNewStatesEntryWaitsForTheNextReport)
{
    const auto entry_started = Clock::now();
    const auto round_ended = entry_started + 2s;
    // the standby's first step: nobody in its group, so it completed before the change was noted
    sut.step_completed(Step_record{1, Client_group::dcm, "kPrepSD", 0, entry_started + 10us, entry_started + 20us, {}});
    sut.transition(
        Transition_facts{s_running, s_preparing, Virtio_command::PrepareSD, entry_started, entry_started + 1ms});
    sut.step_completed(Step_record{2,
                                   Client_group::apps,
                                   "kPrepSD",
                                   0,
                                   entry_started + 2ms,
                                   entry_started + 5ms,
                                   {row("navigation", Client_answer::state, 3, "kPrepSD")}});

    sut.transition(Transition_facts{s_preparing, s_prepared_sd, Virtio_command::Non, round_ended, round_ended});

    const auto history = sut.history();
    EXPECT_TRUE(history[0].steps.empty());
    ASSERT_EQ(history[1].steps.size(), 2U);
    EXPECT_EQ(history[1].steps[0].group, Client_group::dcm);
    ASSERT_EQ(history[1].clients.size(), 1U);
    EXPECT_EQ(history[1].clients[0].step, 1U);
}

TEST_F(Status_board_test, LateAnswerIsAddedToItsRowOnceAlsoAfterTheReport)
{
    change(s_running, s_preparing, Virtio_command::PrepareSD);
    sut.step_completed(step(7, Client_group::apps, {row("late", Client_answer::timeout, 2000)}));
    change(s_preparing, s_prepared_sd);

    sut.late_answer(7, "late", 0, "kPrepSD", 2400);
    sut.late_answer(7, "late", 0, "kPrepSD", 2900);
    sut.late_answer(8, "late", 0, "kPrepSD", 3000);

    const auto late = sut.history().back().clients.at(0);
    EXPECT_EQ(late.answer, Client_answer::timeout);
    EXPECT_TRUE(late.late);
    EXPECT_EQ(late.late_ms, 2400U);
    EXPECT_EQ(late.answered_state, "kPrepSD");
    EXPECT_EQ(late.latency_ms, 2000U);
}

TEST_F(Status_board_test, HistoryKeepsTheNewestSixtyFourReports)
{
    for (int round = 0; round < 35; ++round)
    {
        change(s_running, s_preparing, Virtio_command::PrepareSD);
        change(s_preparing, s_resuming, Virtio_command::Run);
    }

    const auto history = sut.history();

    ASSERT_EQ(history.size(), Status_board::s_history_size);
    EXPECT_EQ(history.front().serial, 7U);
    EXPECT_EQ(history.back().serial, 70U);
}

TEST_F(Status_board_test, ClientTextsAreBoundedAndRowsBeyondTheBoundCounted)
{
    std::vector<Client_row> many;
    for (std::size_t index = 0; index < Status_board::s_max_rows + 5; ++index)
    {
        many.push_back(row("app" + std::to_string(index), Client_answer::state, 1, "kPrepSD"));
    }
    many[0].name = std::string(100, 'x') + "\n";
    many[1].answered_state = "k\x01";
    many[2].answered_state = "kPrepSD\x7f\x7f\x7f";
    sut.step_completed(step(1, Client_group::apps, many));

    change(s_preparing, s_prepared_sd);

    const auto report = sut.history().back();
    ASSERT_EQ(report.clients.size(), Status_board::s_max_rows);
    EXPECT_EQ(report.clients_omitted, 5U);
    EXPECT_EQ(report.clients[0].name, std::string(Status_board::s_max_name_bytes, 'x') + "...");
    EXPECT_EQ(report.clients[1].answered_state, "k\\x01");
    // an escape that would not fit is left out whole
    EXPECT_EQ(report.clients[2].answered_state, "kPrepSD\\x7f\\x7f...");
}

TEST_F(Status_board_test, PostRunEndsByKnockOutOnlyWhileAnApplicationStillHoldsTheEcu)
{
    sut.holder_changed(Holder_kind::ecu_alive, "EcuAlive_Diagnostics", true, {}, 0);
    sut.knockout_changed(0, 3);
    change(s_post_run, s_shutting_down);
    sut.holder_changed(Holder_kind::ecu_alive, "EcuAlive_Diagnostics", false, {}, 0);

    change(s_post_run, s_shutting_down);

    const auto history = sut.history();
    EXPECT_EQ(history[0].cause_kind, Cause_kind::knock_out);
    EXPECT_EQ(history[1].cause_kind, Cause_kind::application);
    EXPECT_EQ(sut.holders().knockout_initial, 3U);
}

} // namespace
} // namespace vela::ap::statemanager::status
