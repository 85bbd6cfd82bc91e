#include "ara/log/testing/log_capture.h"
#include "statemanager/config/state_manager_config.hpp"
#include "statemanager/states/state_factory.hpp"
#include "statemanager/tests/mocks/recording_collaborators.hpp"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace vela::ap::statemanager::states
{
namespace
{

using testing::Recording_collaborators;
using virtio::Virtio_command;
using World = Recording_collaborators::World;

class State_factory_test : public ::testing::Test
{
  protected:
    State_factory_test()
    {
        State_interface::set_prepare_SD_flag(false);
        State_interface::set_forced_shutdown_flag(false);
    }

    ~State_factory_test() override
    {
        State_interface::set_prepare_SD_flag(false);
        State_interface::set_forced_shutdown_flag(false);
    }

    State_factory make_sut()
    {
        return State_factory(m_config,
                             m_collaborators.service_handler,
                             m_collaborators.em_interface,
                             m_collaborators.status_writer,
                             m_collaborators.state_notifier,
                             m_collaborators.fast_shutdown_handler);
    }

    ara::log::testing::Log_capture m_capture;
    config::State_manager_config m_config;
    Recording_collaborators m_collaborators;
};

TEST_F(State_factory_test, EachIdGetsTheStateOfItsNameAndNoOtherIdGetsOne)
{
    const State_factory sut = make_sut();

    const std::string expected[] = {
        "Starting up", "Running", "NM Controlled", "Post Run", "Shutting down", "Preparing", "PreparedSD", "Resuming"};
    for (unsigned int id = 0; id < s_state_count; ++id)
    {
        const auto state = sut.create_state(id);
        ASSERT_NE(state, nullptr) << id;
        EXPECT_EQ(state->get_name(), expected[id]);
    }
    EXPECT_EQ(sut.create_state(8), nullptr);
    EXPECT_EQ(sut.create_state(0xFFFFFFFFU), nullptr);
}

TEST_F(State_factory_test, AllStatesShareOneStatusWriterNotifierAndFastShutdownHandler)
{
    const State_factory sut = make_sut();

    for (const State_id id : {s_starting_up,
                              s_running,
                              s_nm_controlled,
                              s_post_run,
                              s_preparing,
                              s_prepared_sd,
                              s_resuming,
                              s_shutting_down})
    {
        sut.create_state(id)->entering_state();
    }

    EXPECT_EQ(m_collaborators.status_words(),
              (std::vector<std::string>{"startingup",
                                        "running",
                                        "runnmcontrolled",
                                        "postrun",
                                        "preparing",
                                        "prepared4sd",
                                        "resuming",
                                        "shuttingdown"}));
    const std::vector<std::string> actions = m_collaborators.actions();
    for (const char* call : {"request_standby", "process_lookup", "request_resume", "request_shutdown"})
    {
        EXPECT_NE(std::find(actions.begin(), actions.end(), call), actions.end()) << call;
    }
}

TEST_F(State_factory_test, ConfigurationValuesAreReadWhenTheStateIsCreated)
{
    m_config.set_nm_usage(false);
    m_config.set_request_network_on_entry_run_state(true);
    m_config.set_knockout_timer(2);
    m_config.set_pm_timeout(7);
    const State_factory sut = make_sut();
    const auto starting_up = sut.create_state(s_starting_up);
    const auto running = sut.create_state(s_running);
    const auto post_run = sut.create_state(s_post_run);
    const auto shutting_down = sut.create_state(s_shutting_down);
    m_config.set_nm_usage(true);
    m_config.set_knockout_timer(50);
    m_config.set_pm_timeout(1);

    const unsigned int from_starting_up = starting_up->check_transition(Virtio_command::Non);
    const unsigned int from_running = running->check_transition(Virtio_command::NmControlled);
    running->entering_state();
    m_collaborators.change_world([](World& world) { world.apps_keep_ecu_alive = true; });
    post_run->entering_state();
    unsigned int post_run_ticks = 0;
    while (post_run->check_transition(Virtio_command::Non) == s_no_transition && post_run_ticks < 100)
    {
        post_run->tick();
        ++post_run_ticks;
    }
    State_interface::set_forced_shutdown_flag(true);
    m_collaborators.change_world([](World& world) { world.fast_shutdown_possible = true; });
    shutting_down->entering_state();

    // NM usage disallowed: no waiting for NM, and NM commands are not acted on
    EXPECT_EQ(from_starting_up, s_running);
    EXPECT_EQ(from_running, s_no_transition);
    const std::vector<std::string> actions = m_collaborators.actions();
    EXPECT_EQ(std::count(actions.begin(), actions.end(), "request_network"), 0);
    EXPECT_EQ(post_run_ticks, 2U);
    EXPECT_EQ(actions.back(), "start_fast_shutdown(7000)");
}

TEST_F(State_factory_test, RequestNetworkOnEntryNeedsNmUsage)
{
    m_config.set_nm_usage(true);
    m_config.set_request_network_on_entry_run_state(true);
    const State_factory sut = make_sut();

    sut.create_state(s_running)->entering_state();

    EXPECT_EQ(m_collaborators.actions(),
              (std::vector<std::string>{"status running", "request_network", "request_running"}));
}

TEST(State_interface_flags_test, FlagsAreSharedByAllStatesAndSurviveThem)
{
    Recording_collaborators collaborators;
    {
        const auto running = State_factory(config::State_manager_config{},
                                           collaborators.service_handler,
                                           collaborators.em_interface,
                                           collaborators.status_writer,
                                           collaborators.state_notifier,
                                           collaborators.fast_shutdown_handler)
                                 .create_state(s_running);
        ASSERT_EQ(running->check_transition(Virtio_command::NMControlledPrepareSD), s_nm_controlled);
    }

    const auto post_run = std::make_unique<State_interface>(collaborators.status_writer, "Post Run");

    EXPECT_TRUE(post_run->get_prepare_SD_flag());
    EXPECT_FALSE(State_interface::get_forced_shutdown_flag());
    State_interface::set_forced_shutdown_flag(true);
    EXPECT_TRUE(post_run->get_forced_shutdown_flag());
    State_interface::set_prepare_SD_flag(false);
    State_interface::set_forced_shutdown_flag(false);
}

TEST(State_interface_base_test, BaseStateNeverLeavesAndIsNoForcedShutdown)
{
    State_interface sut(nullptr, "base");

    for (const Virtio_command command : {Virtio_command::Non,
                                         Virtio_command::Run,
                                         Virtio_command::NmControlled,
                                         Virtio_command::NMControlledPrepareSD,
                                         Virtio_command::PrepareSD,
                                         Virtio_command::Shutdown,
                                         static_cast<Virtio_command>(0xFF)})
    {
        EXPECT_EQ(sut.check_transition(command), s_no_transition);
    }
    EXPECT_FALSE(sut.is_forced_shutdown());
}

TEST(Virtio_command_test, NamesOfTheSixCommandsAndNoneForOtherValues)
{
    EXPECT_EQ(virtio::toString(Virtio_command::Non), "Non");
    EXPECT_EQ(virtio::toString(Virtio_command::Run), "Run");
    EXPECT_EQ(virtio::toString(Virtio_command::NmControlled), "NmControlled");
    EXPECT_EQ(virtio::toString(Virtio_command::NMControlledPrepareSD), "NMControlledPrepareSD");
    EXPECT_EQ(virtio::toString(Virtio_command::PrepareSD), "PrepareSD");
    EXPECT_EQ(virtio::toString(Virtio_command::Shutdown), "Shutdown");
    EXPECT_EQ(virtio::toString(static_cast<Virtio_command>(6)), "");
}

} // namespace
} // namespace vela::ap::statemanager::states
