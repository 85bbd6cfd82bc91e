#include "ara/log/testing/log_capture.h"
#include "statemanager/config/state_manager_config.hpp"
#include "statemanager/state_manager.hpp"
#include "statemanager/status/tests/mocks/mock_recorders.hpp"
#include "statemanager/tests/mocks/mock_service_handler.hpp"
#include "statemanager/tests/mocks/mock_state.hpp"
#include "statemanager/tests/mocks/mock_supervision_manager.hpp"
#include "statemanager/tests/mocks/mock_virtio_interface.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <ostream>
#include <string>

namespace vela::ap::statemanager
{
namespace
{

using ::testing::_;
using testing::Fake_state_factory;
using testing::Mock_service_handler;
using testing::Mock_state;
using testing::Mock_supervision_manager;
using testing::Mock_virtio_interface;
using ::testing::NiceMock;
using ::testing::Return;
using virtio::Virtio_command;

constexpr unsigned int s_stay = states::s_no_transition;

class State_manager_test : public ::testing::Test
{
  protected:
    State_manager_test()
    {
        m_config.set_main_function_period(10);
        for (unsigned int id = 0; id < states::s_state_count; ++id)
        {
            m_state_storage[id] = std::make_unique<NiceMock<Mock_state>>(states::s_state_names[id]);
            m_state[id] = m_state_storage[id].get();
            ON_CALL(*m_state[id], check_transition(_)).WillByDefault(Return(s_stay));
            ON_CALL(*m_state[id], is_forced_shutdown()).WillByDefault(Return(false));
        }
        ON_CALL(*m_virtio, init(_)).WillByDefault(Return(true));
        ON_CALL(*m_virtio, get_command(_)).WillByDefault(Return(Virtio_command::Non));
    }

    std::unique_ptr<State_manager> make_sut(bool with_virtual_input = true,
                                            std::shared_ptr<status::Machine_recorder_interface> recorder = nullptr)
    {
        std::unique_ptr<virtio::Virtio_interface_abstract> virtio_interface;
        if (with_virtual_input)
        {
            virtio_interface = std::move(m_virtio_storage);
        }
        return std::make_unique<State_manager>(
            m_config,
            m_service_handler,
            nullptr,
            std::move(virtio_interface),
            std::move(m_supervision_storage),
            [this](const config::State_manager_config_abstract&,
                   const std::shared_ptr<Service_handler_interface>&,
                   const std::shared_ptr<Em_interface_abstract>&)
            { return std::make_unique<Fake_state_factory>(m_state_storage, m_requested_ids); },
            std::move(recorder));
    }

    std::size_t position_of(const std::string& text) const
    {
        const std::vector<std::string> texts = m_capture.texts();
        return static_cast<std::size_t>(std::find(texts.begin(), texts.end(), text) - texts.begin());
    }

    ara::log::testing::Log_capture m_capture;
    config::State_manager_config m_config;
    std::shared_ptr<NiceMock<Mock_service_handler>> m_service_handler =
        std::make_shared<NiceMock<Mock_service_handler>>();
    std::unique_ptr<NiceMock<Mock_virtio_interface>> m_virtio_storage =
        std::make_unique<NiceMock<Mock_virtio_interface>>();
    NiceMock<Mock_virtio_interface>* m_virtio = m_virtio_storage.get();
    std::unique_ptr<NiceMock<Mock_supervision_manager>> m_supervision_storage =
        std::make_unique<NiceMock<Mock_supervision_manager>>();
    NiceMock<Mock_supervision_manager>* m_supervision = m_supervision_storage.get();
    std::array<std::unique_ptr<NiceMock<Mock_state>>, states::s_state_count> m_state_storage;
    std::array<NiceMock<Mock_state>*, states::s_state_count> m_state{};
    std::vector<unsigned int> m_requested_ids;
};

TEST_F(State_manager_test, InitCreatesTheStatesInTheirOrderAndEntersStartingUp)
{
    const auto sut = make_sut();
    ::testing::InSequence in_order;
    EXPECT_CALL(*m_virtio, init(std::string{"/dev/input"})).WillOnce(Return(true));
    EXPECT_CALL(*m_service_handler, init());
    EXPECT_CALL(*m_state[states::s_starting_up], entering_state());

    const bool initialised = sut->init();

    EXPECT_TRUE(initialised);
    EXPECT_EQ(m_requested_ids, (std::vector<unsigned int>{0, 1, 2, 3, 4, 5, 7, 6}));
}

TEST_F(State_manager_test, UnusableVirtualInputStopsInitAndTheLoopDoesNothing)
{
    const auto sut = make_sut();
    EXPECT_CALL(*m_virtio, init(_)).WillOnce(Return(false));
    EXPECT_CALL(*m_service_handler, init()).Times(0);
    EXPECT_CALL(*m_supervision, report_alive_status()).Times(0);
    EXPECT_CALL(*m_virtio, get_command(_)).Times(0);

    const bool initialised = sut->init();
    sut->run_cyclic_task();

    EXPECT_FALSE(initialised);
    EXPECT_TRUE(m_requested_ids.empty());
    EXPECT_EQ(m_capture.count("Statewarden failed to initialize VirtIO", ara::log::LogLevel::kError), 1U);
    EXPECT_EQ(m_capture.count("Statewarden not initialized", ara::log::LogLevel::kError), 1U);
    EXPECT_TRUE(m_capture.texts_of_context("EXEC").empty());
}

TEST_F(State_manager_test, CommandStaysQueuedUntilATransitionConsumesIt)
{
    const auto sut = make_sut();
    ASSERT_TRUE(sut->init());
    // the hypervisor queued PrepareSD; starting up ignores it twice, then moves on by itself
    EXPECT_CALL(*m_virtio, get_command(10U)).Times(2).WillRepeatedly(Return(Virtio_command::PrepareSD));
    EXPECT_CALL(*m_state[states::s_starting_up], check_transition(Virtio_command::PrepareSD))
        .WillOnce(Return(s_stay))
        .WillOnce(Return(s_stay))
        .WillOnce(Return(states::s_running));
    EXPECT_CALL(*m_state[states::s_starting_up], tick()).Times(2);
    EXPECT_CALL(*m_virtio, command_consumed()).Times(0);

    sut->run_cyclic_task();
    sut->run_cyclic_task();
    ::testing::Mock::VerifyAndClearExpectations(m_virtio);

    EXPECT_CALL(*m_virtio, get_command(_)).WillOnce(Return(Virtio_command::PrepareSD));
    EXPECT_CALL(*m_state[states::s_running], entering_state());
    EXPECT_CALL(*m_virtio, command_consumed());
    sut->run_cyclic_task();

    EXPECT_EQ(m_capture.count("Statewarden transition fromStarting up to Running", ara::log::LogLevel::kInfo), 1U);
}

TEST_F(State_manager_test, TransitionIsRecordedOnceItsEntryIsDoneWithItsCommand)
{
    const auto recorder = std::make_shared<::testing::StrictMock<status::testing::Mock_machine_recorder>>();
    const auto sut = make_sut(true, recorder);
    ASSERT_TRUE(sut->init());
    EXPECT_CALL(*m_virtio, get_command(_))
        .WillOnce(Return(Virtio_command::PrepareSD))
        .WillOnce(Return(Virtio_command::Non));
    EXPECT_CALL(*m_state[states::s_starting_up], check_transition(Virtio_command::PrepareSD))
        .WillOnce(Return(states::s_preparing));
    status::Transition_facts facts;
    {
        ::testing::InSequence in_order;
        EXPECT_CALL(*m_state[states::s_preparing], entering_state());
        EXPECT_CALL(*recorder, transition(_)).WillOnce(::testing::SaveArg<0>(&facts));
    }

    sut->run_cyclic_task();
    // staying records nothing (a strict mock)
    sut->run_cyclic_task();

    EXPECT_EQ(facts.from, states::s_starting_up);
    EXPECT_EQ(facts.to, states::s_preparing);
    EXPECT_EQ(facts.command, Virtio_command::PrepareSD);
    EXPECT_LE(facts.entry_started, facts.entry_finished);
}

/// What check_transition of the starting-up state answers, and where the loop must be then.
struct Transition_case
{
    const char* label;
    unsigned int answer;
    unsigned int target;
    bool forced_shutdown;
    bool loop_goes_on;
};

void PrintTo(const Transition_case& value, std::ostream* os)
{
    *os << value.label;
}

class State_manager_transition_test : public State_manager_test, public ::testing::WithParamInterface<Transition_case>
{
};

TEST_P(State_manager_transition_test, TransitionEntersTargetAndEndsLoopOnlyForNormalShutdown)
{
    const auto sut = make_sut();
    ASSERT_TRUE(sut->init());
    EXPECT_CALL(*m_state[states::s_starting_up], check_transition(_))
        .WillOnce(Return(GetParam().answer))
        .WillRepeatedly(Return(s_stay));
    ON_CALL(*m_state[GetParam().target], is_forced_shutdown()).WillByDefault(Return(GetParam().forced_shutdown));
    EXPECT_CALL(*m_state[GetParam().target], entering_state());

    sut->run_cyclic_task();
    sut->run_cyclic_task();

    EXPECT_EQ(m_capture.count(std::string{"Statewarden transition fromStarting up to "} +
                              states::s_state_names[GetParam().target]),
              1U);
    EXPECT_EQ(m_capture.count("Statewarden not initialized") == 0, GetParam().loop_goes_on);
}

INSTANTIATE_TEST_SUITE_P(Targets,
                         State_manager_transition_test,
                         ::testing::Values(Transition_case{"ToRunning", 1, 1, false, true},
                                           Transition_case{"ToPreparing", 5, 5, false, true},
                                           Transition_case{"ReenteringItself", 0, 0, false, true},
                                           Transition_case{"NormalShutdown", 4, 4, false, false},
                                           Transition_case{"ForcedShutdown", 4, 4, true, true},
                                           Transition_case{"NineTakenAsShutdown", 9, 4, false, false},
                                           Transition_case{"LargestTakenAsShutdown", 0xFFFFFFFFU, 4, false, false},
                                           Transition_case{"AboveEightForcedShutdown", 12, 4, true, true}),
                         [](const ::testing::TestParamInfo<Transition_case>& param)
                         { return std::string{param.param.label}; });

/// A transition with a command at the head of the queue, and whether it removes that command.
struct Consume_case
{
    const char* label;
    unsigned int from;
    unsigned int to;
    Virtio_command command;
    bool consumed;
};

void PrintTo(const Consume_case& value, std::ostream* os)
{
    *os << value.label;
}

class State_manager_consume_test : public State_manager_test, public ::testing::WithParamInterface<Consume_case>
{
};

TEST_P(State_manager_consume_test, TransitionRemovesTheHeadCommandExceptShutdownWaitingForPreparedSd)
{
    const auto sut = make_sut();
    ASSERT_TRUE(sut->init());
    const Consume_case& row = GetParam();
    if (row.from != states::s_starting_up)
    {
        EXPECT_CALL(*m_state[states::s_starting_up], check_transition(_)).WillOnce(Return(row.from));
        sut->run_cyclic_task();
    }
    ::testing::Mock::VerifyAndClearExpectations(m_virtio);
    EXPECT_CALL(*m_virtio, get_command(_)).WillOnce(Return(row.command));
    EXPECT_CALL(*m_state[row.from], check_transition(row.command)).WillOnce(Return(row.to));
    EXPECT_CALL(*m_state[row.to], entering_state());
    EXPECT_CALL(*m_virtio, command_consumed()).Times(row.consumed ? 1 : 0);

    sut->run_cyclic_task();
}

INSTANTIATE_TEST_SUITE_P(
    Consume,
    State_manager_consume_test,
    ::testing::Values(
        Consume_case{"ShutdownWaitingWhilePreparingSurvivesPreparedSd", 5, 6, Virtio_command::Shutdown, false},
        Consume_case{"PreparedSdWithoutCommand", 5, 6, Virtio_command::Non, true},
        Consume_case{"PrepareSdWaitingWhilePreparingIsRemoved", 5, 6, Virtio_command::PrepareSD, true},
        Consume_case{"RunFromPreparingToResuming", 5, 7, Virtio_command::Run, true},
        Consume_case{"ShutdownFromPreparedSdToShuttingDown", 6, 4, Virtio_command::Shutdown, true},
        Consume_case{"ShutdownWaitingWhileStartingUpIsRemoved", 0, 1, Virtio_command::Shutdown, true},
        Consume_case{"ShutdownWaitingInPostRunIsRemovedOnTheWayToNm", 3, 2, Virtio_command::Shutdown, true},
        Consume_case{"ShutdownWaitingWhileResumingIsRemoved", 7, 1, Virtio_command::Shutdown, true}),
    [](const ::testing::TestParamInfo<Consume_case>& param) { return std::string{param.param.label}; });

TEST_F(State_manager_test, RunReportsRunningLoopsUntilShutdownAndReportsTerminating)
{
    const auto sut = make_sut();
    ASSERT_TRUE(sut->init());
    EXPECT_CALL(*m_state[states::s_starting_up], check_transition(_))
        .WillOnce(Return(s_stay))
        .WillOnce(Return(states::s_shutting_down));
    EXPECT_CALL(*m_supervision, report_alive_status()).Times(2);
    EXPECT_CALL(*m_service_handler, deinit());

    sut->run();

    const std::size_t running = position_of("ReportApplicationState(kRunning)");
    const std::size_t started = position_of("Statewarden daemon started");
    const std::size_t transition = position_of("Statewarden transition fromStarting up to Shutting down");
    const std::size_t reporting = position_of("Statewarden reporting kTerminating to EM");
    const std::size_t terminating = position_of("ReportApplicationState(kTerminating)");
    EXPECT_LT(running, started);
    EXPECT_LT(started, transition);
    EXPECT_LT(transition, reporting);
    EXPECT_LT(reporting, terminating);
    EXPECT_LT(terminating, m_capture.texts().size());
}

TEST_F(State_manager_test, ShutdownDuringTheWaitEndsTheLoopAfterThatCycle)
{
    const auto sut = make_sut();
    ASSERT_TRUE(sut->init());
    std::mutex mutex;
    std::condition_variable changed;
    bool waiting = false;
    bool released = false;
    EXPECT_CALL(*m_virtio, get_command(_))
        .WillOnce(
            [&](unsigned int)
            {
                std::unique_lock<std::mutex> lock(mutex);
                waiting = true;
                changed.notify_all();
                changed.wait(lock, [&] { return released; });
                return Virtio_command::Non;
            });
    EXPECT_CALL(*m_state[states::s_starting_up], tick()).Times(1);
    EXPECT_CALL(*m_service_handler, deinit());

    auto loop = std::async(std::launch::async, [&] { sut->run(); });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds{5}, [&] { return waiting; }));
    }
    // a termination request arrives while the loop waits for input
    sut->shutdown();
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
    }
    changed.notify_all();

    ASSERT_EQ(loop.wait_for(std::chrono::seconds{5}), std::future_status::ready);
    EXPECT_EQ(m_capture.count("Shutting down Statewarden", ara::log::LogLevel::kInfo), 1U);
    EXPECT_EQ(m_capture.count("ReportApplicationState(kTerminating)"), 1U);
}

TEST_F(State_manager_test, SignalDuringInitIsKeptAndLoggedWhenTheLoopEnds)
{
    const auto sut = make_sut();
    EXPECT_CALL(*m_virtio, get_command(_)).Times(0);

    // the signal arrives before init() has finished
    sut->shutdown_from_signal();
    ASSERT_TRUE(sut->init());
    sut->run();

    EXPECT_LT(position_of("Statewarden daemon started"), position_of("SIGTERM received!"));
    EXPECT_LT(position_of("SIGTERM received!"), position_of("Shutting down Statewarden"));
    EXPECT_LT(position_of("Shutting down Statewarden"), position_of("Statewarden reporting kTerminating to EM"));
    EXPECT_LT(position_of("Statewarden reporting kTerminating to EM"), m_capture.texts().size());
}

TEST_F(State_manager_test, WithoutVirtualInputEachCycleWaitsOnePeriodAndSeesNoCommand)
{
    m_config.set_main_function_period(50);
    const auto sut = make_sut(false);
    ASSERT_TRUE(sut->init());
    EXPECT_CALL(*m_state[states::s_starting_up], check_transition(Virtio_command::Non)).WillOnce(Return(s_stay));

    const auto start = std::chrono::steady_clock::now();
    sut->run_cyclic_task();
    const auto elapsed = std::chrono::steady_clock::now() - start;

    EXPECT_GE(elapsed, std::chrono::milliseconds{50});
}

} // namespace
} // namespace vela::ap::statemanager
