#include "statemanager/states/state_factory.hpp"

#include "ara/log/testing/log_capture.h"
#include "statemanager/config/state_manager_config.hpp"
#include "statemanager/em/em_interface.hpp"
#include "statemanager/placeholders/placeholders.hpp"
#include "statemanager/smw/shared_memory_update.hpp"
#include "statemanager/tests/mocks/mock_service_handler.hpp"
#include "tests/support/temp_dir.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vela::ap::statemanager::states
{
namespace
{

using virtio::Virtio_command;

class State_factory_test : public ::testing::Test
{
protected:
    State_factory_test() { m_config.set_smw_update_status_path(m_dir.file("set_status")); }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    config::State_manager_config m_config;
    std::shared_ptr<Service_handler_interface> m_service_handler =
        std::make_shared<::testing::NiceMock<vela::ap::statemanager::testing::Mock_service_handler>>();
    std::shared_ptr<Em_interface_abstract> m_em = std::make_shared<Em_interface>();
    std::string m_poweroff_path = m_dir.file("poweroff");
};

TEST_F(State_factory_test, EachIdGetsTheStateOfItsNameAndNoOtherIdGetsOne)
{
    const State_factory sut(m_config, m_service_handler, m_em, m_poweroff_path);

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

TEST_F(State_factory_test, BaseStateNeverLeavesAndIsNoForcedShutdown)
{
    const State_factory sut(m_config, m_service_handler, m_em, m_poweroff_path);
    const auto state = sut.create_state(s_shutting_down);

    for (const Virtio_command command : {Virtio_command::Non,
                                         Virtio_command::Run,
                                         Virtio_command::NmControlled,
                                         Virtio_command::NMControlledPrepareSD,
                                         Virtio_command::PrepareSD,
                                         Virtio_command::Shutdown,
                                         static_cast<Virtio_command>(0xFF)})
    {
        EXPECT_EQ(state->check_transition(command), s_no_transition);
    }
    EXPECT_FALSE(state->is_forced_shutdown());
}

TEST_F(State_factory_test, StatusFileOfTheConfigurationIsOpenedAndStartsEmpty)
{
    m_dir.write_file("set_status", "left over");

    const State_factory sut(m_config, m_service_handler, m_em, m_poweroff_path);

    EXPECT_EQ(m_dir.read_file("set_status"), "");
    EXPECT_EQ(m_capture.count("Invalid Shared memory file provided: " + m_dir.file("set_status") + "!"), 0U);
}

TEST_F(State_factory_test, PoweroffPipeWithoutReaderIsReportedWithItsPath)
{
    const State_factory sut(m_config, m_service_handler, m_em, m_poweroff_path);

    EXPECT_EQ(m_capture.count("Failed to open file:" + m_poweroff_path + " Error: No such file or directory",
                              ara::log::LogLevel::kError),
              1U);
}

TEST_F(State_factory_test, PoweroffPipeWithReaderOpensQuietly)
{
    ASSERT_EQ(::mkfifo(m_poweroff_path.c_str(), 0600), 0);
    const int reader = ::open(m_poweroff_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);

    {
        const State_factory sut(m_config, m_service_handler, m_em, m_poweroff_path);
    }
    ::close(reader);

    EXPECT_TRUE(m_capture.texts(ara::log::LogLevel::kError).empty());
}

TEST(State_interface_flags_test, FlagsAreSharedByAllStatesAndSurviveThem)
{
    const auto writer = std::make_shared<smw::Shared_memory_update>("/dev/null");
    {
        placeholders::State_placeholder running(writer, "Running");
        running.set_prepare_SD_flag(true);
    }

    placeholders::State_placeholder post_run(writer, "Post Run");

    EXPECT_TRUE(post_run.get_prepare_SD_flag());
    EXPECT_FALSE(State_interface::get_forced_shutdown_flag());
    State_interface::set_forced_shutdown_flag(true);
    EXPECT_TRUE(post_run.get_forced_shutdown_flag());
    State_interface::set_prepare_SD_flag(false);
    State_interface::set_forced_shutdown_flag(false);
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
