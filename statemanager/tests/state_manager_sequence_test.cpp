// Whole-daemon roads through the State_manager with the real eight states: the hypervisor's key
// presses go into a fake virtual input, the collaborators (service handler, status writer,
// execution management, notifier, fast shutdown) are recording doubles whose answers the test
// changes between cycles.

#include "ara/log/testing/log_capture.h"
#include "statemanager/config/state_manager_config.hpp"
#include "statemanager/state_manager.hpp"
#include "statemanager/states/state_factory.hpp"
#include "statemanager/tests/mocks/fake_virtio_interface.hpp"
#include "statemanager/tests/mocks/mock_supervision_manager.hpp"
#include "statemanager/tests/mocks/recording_collaborators.hpp"

#include <algorithm>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace vela::ap::statemanager
{
namespace
{

using namespace std::chrono_literals;
using ara::log::LogLevel;
using testing::Fake_virtio_interface;
using testing::Recording_collaborators;
using virtio::Virtio_command;
using Key = Fake_virtio_interface::Key;
using World = Recording_collaborators::World;

class State_manager_sequence_test : public ::testing::Test
{
  protected:
    State_manager_sequence_test()
    {
        states::State_interface::set_prepare_SD_flag(false);
        states::State_interface::set_forced_shutdown_flag(false);
        m_config.set_main_function_period(1);
        m_config.set_nm_usage(true);
        m_config.set_request_network_on_entry_run_state(true);
        m_config.set_knockout_timer(3);
        m_config.set_pm_timeout(4);
    }

    ~State_manager_sequence_test() override
    {
        // A loop left running by a failed assertion must not outlive the test.
        if (m_loop.valid())
        {
            m_sut->shutdown();
            m_loop.wait();
        }
        states::State_interface::set_prepare_SD_flag(false);
        states::State_interface::set_forced_shutdown_flag(false);
    }

    /// Builds and initialises the daemon; the machine is then in "Starting up".
    void start()
    {
        auto virtio_interface = std::make_unique<Fake_virtio_interface>();
        m_virtio = virtio_interface.get();
        m_sut = std::make_unique<State_manager>(
            m_config,
            m_collaborators.service_handler,
            m_collaborators.em_interface,
            std::move(virtio_interface),
            std::make_unique<::testing::NiceMock<testing::Mock_supervision_manager>>(),
            [this](const config::State_manager_config_abstract& config,
                   const std::shared_ptr<Service_handler_interface>& service_handler,
                   const std::shared_ptr<Em_interface_abstract>& em_interface)
            {
                return std::make_unique<states::State_factory>(config,
                                                               service_handler,
                                                               em_interface,
                                                               m_collaborators.status_writer,
                                                               m_collaborators.state_notifier,
                                                               m_collaborators.fast_shutdown_handler);
            });
        ASSERT_TRUE(m_sut->init());
    }

    /// Starts without NM and lets the machine reach "Running".
    void start_running()
    {
        m_config.set_nm_usage(false);
        start();
        cycles(1);
    }

    void cycles(unsigned int count)
    {
        for (unsigned int i = 0; i < count; ++i)
        {
            m_sut->run_cyclic_task();
        }
    }

    template <typename Change> void world(Change change) { m_collaborators.change_world(change); }

    /// The transitions logged so far, as "from -> to".
    std::vector<std::string> transitions() const
    {
        static const std::string prefix = "Statewarden transition from";
        std::vector<std::string> result;
        for (const ara::log::testing::Captured_message& message : m_capture.messages())
        {
            if (message.pieces.size() == 4 && message.text.rfind(prefix, 0) == 0)
            {
                const auto piece = [&](std::size_t index)
                { return message.text.substr(message.pieces[index].offset, message.pieces[index].length); };
                result.push_back(piece(1) + " -> " + piece(3));
            }
        }
        return result;
    }

    std::string last_transition() const
    {
        const std::vector<std::string> all = transitions();
        return all.empty() ? std::string{} : all.back();
    }

    std::size_t count_action(const std::string& action) const
    {
        const std::vector<std::string> actions = m_collaborators.actions();
        return static_cast<std::size_t>(std::count(actions.begin(), actions.end(), action));
    }

    bool loop_ended() const { return m_capture.count("Statewarden not initialized", LogLevel::kError) != 0; }

    ara::log::testing::Log_capture m_capture;
    config::State_manager_config m_config;
    Recording_collaborators m_collaborators;
    Fake_virtio_interface* m_virtio{nullptr};
    std::unique_ptr<State_manager> m_sut;
    std::future<void> m_loop;
};

TEST_F(State_manager_sequence_test, StartUpWithoutNmRunsInTheFirstCycleWithoutAskingForNm)
{
    m_config.set_nm_usage(false);
    start();

    cycles(1);

    EXPECT_EQ(transitions(), std::vector<std::string>{"Starting up -> Running"});
    EXPECT_EQ(m_collaborators.status_words(), (std::vector<std::string>{"startingup", "running"}));
    EXPECT_EQ(m_collaborators.journal(),
              (std::vector<std::string>{"init", "status startingup", "status running", "request_running"}));
}

TEST_F(State_manager_sequence_test, StartUpWithNmWaitsForTheNmServicesAndDropsTheWaitingCommand)
{
    start();
    // the hypervisor asks for standby before NM has been found
    m_virtio->press(Key::P);
    cycles(3);
    EXPECT_TRUE(transitions().empty());

    // both UDP NM services are found
    world([](World& w) { w.nm_interface_available = true; });
    cycles(2);

    EXPECT_EQ(
        m_capture.count("Transition form startup to running not possible. Waiting for nm interface.", LogLevel::kInfo),
        3U);
    EXPECT_EQ(transitions(), std::vector<std::string>{"Starting up -> Running"});
    EXPECT_TRUE(m_virtio->queue().empty());
    EXPECT_EQ(m_collaborators.status_words(), (std::vector<std::string>{"startingup", "running"}));
    EXPECT_EQ(count_action("request_network"), 1U);
}

/// Running handed to NM control with N or S; then the network sleeps with nobody keeping the ECU.
struct Sleep_case
{
    const char* label;
    Key key;
    std::string target;
    std::string last_word;
    bool loop_goes_on;
};

void PrintTo(const Sleep_case& value, std::ostream* os)
{
    *os << value.label;
}

class State_manager_sleep_test : public State_manager_sequence_test, public ::testing::WithParamInterface<Sleep_case>
{
};

TEST_P(State_manager_sleep_test, NetworkSleepEndsInTheStateChosenWhenHandingOver)
{
    start();
    world([](World& w) { w.nm_interface_available = true; });
    cycles(1);
    // the hypervisor hands control to network management
    m_virtio->press(GetParam().key);
    cycles(2);
    ASSERT_EQ(last_transition(), "Running -> NM Controlled");
    EXPECT_EQ(count_action("release_network"), 1U);

    // the network goes to sleep
    world([](World& w) { w.ecu_in_sleep_mode = true; });
    cycles(1);

    EXPECT_EQ(last_transition(), "NM Controlled -> " + GetParam().target);
    EXPECT_EQ(m_collaborators.status_words(),
              (std::vector<std::string>{"startingup", "running", "runnmcontrolled", GetParam().last_word}));
    EXPECT_FALSE(states::State_interface::get_prepare_SD_flag());
    cycles(1);
    EXPECT_EQ(loop_ended(), !GetParam().loop_goes_on);
}

INSTANTIATE_TEST_SUITE_P(
    Handover,
    State_manager_sleep_test,
    ::testing::Values(Sleep_case{"NmControlledShutsDown", Key::N, "Shutting down", "shuttingdown", false},
                      Sleep_case{"NmControlledPrepareSdPrepares", Key::S, "Preparing", "preparing", true}),
    [](const ::testing::TestParamInfo<Sleep_case>& param) { return std::string{param.param.label}; });

TEST_F(State_manager_sequence_test, PostRunIsKnockedOutAfterExactlyTheConfiguredNumberOfTicks)
{
    start();
    world([](World& w) { w.nm_interface_available = true; });
    cycles(1);
    m_virtio->press(Key::N);
    cycles(1);
    // the network sleeps while an application keeps the ECU alive
    world(
        [](World& w)
        {
            w.ecu_in_sleep_mode = true;
            w.apps_keep_ecu_alive = true;
        });
    cycles(1);
    ASSERT_EQ(last_transition(), "NM Controlled -> Post Run");

    cycles(3);
    EXPECT_EQ(last_transition(), "NM Controlled -> Post Run");
    EXPECT_EQ(m_capture.count("Post rumn tick action", LogLevel::kDebug), 3U);
    cycles(1);

    EXPECT_EQ(last_transition(), "Post Run -> Shutting down");
    EXPECT_EQ(count_action("request_shutdown"), 1U);
    cycles(1);
    EXPECT_TRUE(loop_ended());
}

TEST_F(State_manager_sequence_test, ComAliveTakesPostRunBackToNmControlEvenWithAQueuedShutdown)
{
    start();
    world([](World& w) { w.nm_interface_available = true; });
    cycles(1);
    m_virtio->press(Key::N);
    cycles(1);
    world(
        [](World& w)
        {
            w.ecu_in_sleep_mode = true;
            w.apps_keep_ecu_alive = true;
        });
    cycles(1);
    ASSERT_EQ(last_transition(), "NM Controlled -> Post Run");

    // the power key and an application's COM-alive request arrive in the same cycle
    m_virtio->press(Key::Power);
    world(
        [](World& w)
        {
            w.apps_keep_com_alive = true;
            w.ecu_in_sleep_mode = false;
        });
    cycles(1);

    EXPECT_EQ(last_transition(), "Post Run -> NM Controlled");
    EXPECT_EQ(count_action("request_shutdown"), 0U);
    // every transition removes the head of the queue, whichever state caused it
    EXPECT_TRUE(m_virtio->queue().empty());
    cycles(2);
    EXPECT_EQ(last_transition(), "Post Run -> NM Controlled");
}

TEST_F(State_manager_sequence_test, PowerKeyRemovedByTheStartUpStillShutsDownWhenPressedAgain)
{
    start();
    // the hypervisor presses the power key while the machine waits for NM
    m_virtio->press(Key::Power);
    cycles(2);
    // both UDP NM services are found: the transition to Running removes the Shutdown
    world([](World& w) { w.nm_interface_available = true; });
    cycles(1);
    ASSERT_EQ(last_transition(), "Starting up -> Running");
    ASSERT_TRUE(m_virtio->queue().empty());

    // the hypervisor presses the power key again
    m_virtio->press(Key::Power);
    cycles(1);

    EXPECT_EQ(last_transition(), "Running -> Shutting down");
    EXPECT_EQ(count_action("request_shutdown"), 1U);
}

TEST_F(State_manager_sequence_test, PowerKeyRemovedByTheReturnFromPostRunStillShutsDownWhenPressedAgain)
{
    start();
    world([](World& w) { w.nm_interface_available = true; });
    cycles(1);
    m_virtio->press(Key::N);
    cycles(1);
    world(
        [](World& w)
        {
            w.ecu_in_sleep_mode = true;
            w.apps_keep_ecu_alive = true;
        });
    cycles(1);
    ASSERT_EQ(last_transition(), "NM Controlled -> Post Run");
    // the power key and an application's COM-alive request arrive in the same cycle
    m_virtio->press(Key::Power);
    world(
        [](World& w)
        {
            w.apps_keep_com_alive = true;
            w.ecu_in_sleep_mode = false;
        });
    cycles(1);
    ASSERT_EQ(last_transition(), "Post Run -> NM Controlled");

    // the hypervisor presses the power key again
    m_virtio->press(Key::Power);
    cycles(1);

    EXPECT_EQ(last_transition(), "NM Controlled -> Shutting down");
    EXPECT_EQ(count_action("request_shutdown"), 1U);
}

TEST_F(State_manager_sequence_test, StandbyThenResumeReturnsToRunningWithStatusWordsInOrder)
{
    start_running();
    // the hypervisor presses P; the standby sequence needs two more checks
    world([](World& w) { w.busy_checks = 2; });
    m_virtio->press(Key::P);
    cycles(1);
    ASSERT_EQ(last_transition(), "Running -> Preparing");
    cycles(2);
    EXPECT_EQ(last_transition(), "Running -> Preparing");
    cycles(1);
    ASSERT_EQ(last_transition(), "Preparing -> PreparedSD");
    cycles(3);
    EXPECT_EQ(last_transition(), "Preparing -> PreparedSD");

    // the hypervisor presses R; the resume sequence needs one more check
    world([](World& w) { w.busy_checks = 1; });
    m_virtio->press(Key::R);
    cycles(1);
    ASSERT_EQ(last_transition(), "PreparedSD -> Resuming");
    cycles(1);
    EXPECT_EQ(last_transition(), "PreparedSD -> Resuming");
    cycles(1);

    EXPECT_EQ(last_transition(), "Resuming -> Running");
    EXPECT_EQ(m_collaborators.status_words(),
              (std::vector<std::string>{"startingup", "running", "preparing", "prepared4sd", "resuming", "running"}));
    EXPECT_EQ(m_collaborators.actions(),
              (std::vector<std::string>{"init",
                                        "status startingup",
                                        "status running",
                                        "request_running",
                                        "status preparing",
                                        "request_standby",
                                        "process_lookup",
                                        "standby",
                                        "status prepared4sd",
                                        "status resuming",
                                        "request_resume",
                                        "end_standby",
                                        "status running",
                                        "request_running"}));
    EXPECT_TRUE(m_virtio->queue().empty());
    EXPECT_FALSE(loop_ended());
}

/// The power key pressed while standby is being prepared, with or without the PM daemon.
struct Standby_shutdown_case
{
    const char* label;
    bool pm_daemon_found;
    std::string shutdown_call;
    const char* shutdown_log;
    bool loop_goes_on;
};

void PrintTo(const Standby_shutdown_case& value, std::ostream* os)
{
    *os << value.label;
}

class State_manager_standby_shutdown_test : public State_manager_sequence_test,
                                            public ::testing::WithParamInterface<Standby_shutdown_case>
{
};

TEST_P(State_manager_standby_shutdown_test, ShutdownDuringPreparingIsActedOnInPreparedSd)
{
    start_running();
    world(
        [&](World& w)
        {
            w.busy_checks = 3;
            w.fast_shutdown_possible = GetParam().pm_daemon_found;
        });
    m_virtio->press(Key::P);
    cycles(2);
    ASSERT_EQ(last_transition(), "Running -> Preparing");

    // the hypervisor presses the power key while the notifications run
    m_virtio->press(Key::Power);
    cycles(2);
    EXPECT_EQ(last_transition(), "Running -> Preparing");
    // the standby sequence ends: PreparedSD is reached and the power key still waits
    cycles(1);
    ASSERT_EQ(last_transition(), "Preparing -> PreparedSD");
    EXPECT_EQ(m_virtio->queue(), std::deque<Virtio_command>{Virtio_command::Shutdown});
    cycles(1);

    EXPECT_EQ(last_transition(), "PreparedSD -> Shutting down");
    EXPECT_TRUE(states::State_interface::get_forced_shutdown_flag());
    EXPECT_TRUE(m_virtio->queue().empty());
    EXPECT_EQ(count_action(GetParam().shutdown_call), 1U);
    EXPECT_EQ(m_capture.count(GetParam().shutdown_log, LogLevel::kInfo), 1U);
    EXPECT_EQ(m_collaborators.status_words().back(), "shuttingdown");
    cycles(3);
    EXPECT_EQ(loop_ended(), !GetParam().loop_goes_on);
    EXPECT_EQ(last_transition(), "PreparedSD -> Shutting down");
}

INSTANTIATE_TEST_SUITE_P(PowerKey,
                         State_manager_standby_shutdown_test,
                         ::testing::Values(Standby_shutdown_case{"PmDaemonFoundShutsDownFastAndKeepsLooping",
                                                                 true,
                                                                 "start_fast_shutdown(4000)",
                                                                 "Fast shutdown executed",
                                                                 true},
                                           Standby_shutdown_case{"NoPmDaemonShutsDownNormallyAndEndsTheLoop",
                                                                 false,
                                                                 "request_shutdown",
                                                                 "Normal shutdown executed",
                                                                 false}),
                         [](const ::testing::TestParamInfo<Standby_shutdown_case>& param)
                         { return std::string{param.param.label}; });

TEST_F(State_manager_sequence_test, RunDuringPreparingResumesAtOnce)
{
    start_running();
    world([](World& w) { w.busy_checks = 100; });
    m_virtio->press(Key::P);
    cycles(2);

    // the hypervisor changes its mind
    m_virtio->press(Key::R);
    world([](World& w) { w.busy_checks = 0; });
    cycles(2);

    EXPECT_EQ(transitions(),
              (std::vector<std::string>{
                  "Starting up -> Running", "Running -> Preparing", "Preparing -> Resuming", "Resuming -> Running"}));
    EXPECT_TRUE(m_virtio->queue().empty());
}

TEST_F(State_manager_sequence_test, ShutdownFromOperationIsNeverForcedEvenWithThePmDaemonFound)
{
    start_running();
    world([](World& w) { w.fast_shutdown_possible = true; });

    m_virtio->press(Key::Power);
    cycles(1);

    EXPECT_EQ(last_transition(), "Running -> Shutting down");
    EXPECT_EQ(count_action("request_shutdown"), 1U);
    EXPECT_EQ(count_action("process_lookup"), 0U);
    cycles(1);
    EXPECT_TRUE(loop_ended());
}

TEST_F(State_manager_sequence_test, NormalShutdownEndsRunWhichReportsTerminating)
{
    m_config.set_nm_usage(false);
    m_config.set_main_function_period(5);
    start();
    m_loop = std::async(std::launch::async, [this] { m_sut->run(); });
    ASSERT_TRUE(m_capture.wait_for("Entering running state", 5s));

    // the hypervisor presses the power key while the machine runs
    m_virtio->press(Key::Power);

    ASSERT_EQ(m_loop.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(last_transition(), "Running -> Shutting down");
    EXPECT_EQ(m_collaborators.actions().back(), "deinit");
    EXPECT_EQ(m_capture.count("ReportApplicationState(kTerminating)"), 1U);
}

TEST_F(State_manager_sequence_test, FastShutdownKeepsRunLoopingUntilATerminationRequest)
{
    m_config.set_nm_usage(false);
    m_config.set_main_function_period(5);
    world([](World& w) { w.fast_shutdown_possible = true; });
    start();
    m_loop = std::async(std::launch::async, [this] { m_sut->run(); });
    ASSERT_TRUE(m_capture.wait_for("Entering running state", 5s));
    m_virtio->press(Key::P);
    ASSERT_TRUE(m_capture.wait_for("Entering PreparedSD state", 5s));
    m_virtio->press(Key::Power);
    ASSERT_TRUE(m_capture.wait_for("Fast shutdown executed", 5s));

    // the loop goes on in Shutting down
    const std::size_t waits = m_virtio->waits();
    EXPECT_TRUE(m_virtio->wait_for_waits(waits + 5, 5s));
    EXPECT_NE(m_loop.wait_for(0s), std::future_status::ready);
    m_sut->shutdown();

    ASSERT_EQ(m_loop.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(last_transition(), "PreparedSD -> Shutting down");
    EXPECT_EQ(count_action("start_fast_shutdown(4000)"), 1U);
    EXPECT_EQ(count_action("request_shutdown"), 0U);
    EXPECT_EQ(m_capture.count("ReportApplicationState(kTerminating)"), 1U);
}

} // namespace
} // namespace vela::ap::statemanager
