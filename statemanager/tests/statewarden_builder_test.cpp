// The collaborators the states share, built the daemon's way on temporary paths: the status file,
// the notification socket and the power-off pipe.

#include "ara/log/testing/log_capture.h"
#include "statemanager/config/state_manager_config.hpp"
#include "statemanager/state_manager.hpp"
#include "statemanager/statewarden_builder.hpp"
#include "statemanager/tests/mocks/mock_em_interface.hpp"
#include "statemanager/tests/mocks/mock_service_handler.hpp"
#include "statemanager/tests/mocks/mock_supervision_manager.hpp"
#include "statemanager/tests/mocks/mock_virtio_interface.hpp"
#include "testbed/support/temp_dir.hpp"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vela::ap::statemanager
{
namespace
{

using ::testing::NiceMock;

bool exists(const std::string& path)
{
    struct stat info
    {
    };
    return ::stat(path.c_str(), &info) == 0;
}

class Statewarden_builder_test : public ::testing::Test
{
  protected:
    Statewarden_builder_test()
    {
        m_config.set_smw_update_status_path(m_dir.file("set_status"));
        m_settings.poweroff_path = m_dir.file("poweroff");
        // The notifier's server listens in a temporary directory, not on the machine's socket.
        m_settings.client_states_factory = state_notifier::client_states_factory_for(m_socket);
    }

    std::unique_ptr<states::State_factory_abstract> build()
    {
        return shared_collaborators_builder(m_settings)(m_config, m_service_handler, m_em);
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::string m_socket = m_dir.file("ara_SM.socket");
    config::State_manager_config m_config;
    Shared_collaborator_settings m_settings;
    std::shared_ptr<NiceMock<testing::Mock_service_handler>> m_service_handler =
        std::make_shared<NiceMock<testing::Mock_service_handler>>();
    std::shared_ptr<Em_interface_abstract> m_em = std::make_shared<NiceMock<testing::Mock_em_interface>>();
};

TEST_F(Statewarden_builder_test, SharedCollaboratorsAreCreatedOnlyWhenInitAsksAfterInputAndServiceHandler)
{
    m_dir.write_file("set_status", "left over");
    auto virtio_interface = std::make_unique<NiceMock<testing::Mock_virtio_interface>>();
    bool untouched_at_input = false;
    bool untouched_at_service_handler = false;
    const auto untouched = [this] { return m_dir.read_file("set_status") == "left over" && !exists(m_socket); };
    EXPECT_CALL(*virtio_interface, init(::testing::_))
        .WillOnce(
            [&](const std::string&)
            {
                untouched_at_input = untouched();
                return true;
            });
    EXPECT_CALL(*m_service_handler, init()).WillOnce([&] { untouched_at_service_handler = untouched(); });
    State_manager sut(m_config,
                      m_service_handler,
                      m_em,
                      std::move(virtio_interface),
                      std::make_unique<NiceMock<testing::Mock_supervision_manager>>(),
                      shared_collaborators_builder(m_settings));

    const bool initialised = sut.init();

    EXPECT_TRUE(initialised);
    EXPECT_TRUE(untouched_at_input);
    EXPECT_TRUE(untouched_at_service_handler);
    // Starting up was entered with the status file of the configuration, opened empty.
    EXPECT_EQ(m_dir.read_file("set_status"), "startingup");
    EXPECT_TRUE(exists(m_socket));
}

TEST_F(Statewarden_builder_test, EveryStateIsBuiltAndTheStatesWriteIntoTheStatusFileOfTheConfiguration)
{
    m_dir.write_file("set_status", "left over");
    const auto factory = build();
    EXPECT_EQ(m_dir.read_file("set_status"), "");

    for (unsigned int id = 0; id < states::s_state_count; ++id)
    {
        EXPECT_EQ(factory->create_state(id)->get_name(), states::s_state_names[id]);
    }
    factory->create_state(states::s_starting_up)->entering_state();
    factory->create_state(states::s_prepared_sd)->entering_state();

    EXPECT_EQ(m_dir.read_file("set_status"), "startingupprepared4sd");
    EXPECT_EQ(m_capture.count("Invalid Shared memory file provided: " + m_dir.file("set_status") + "!"), 0U);
}

TEST_F(Statewarden_builder_test, PoweroffPipeWithoutReaderIsReportedWithItsPath)
{
    const auto factory = build();

    EXPECT_EQ(m_capture.count("Failed to open file:" + m_settings.poweroff_path + " Error: No such file or directory",
                              ara::log::LogLevel::kError),
              1U);
}

TEST_F(Statewarden_builder_test, PoweroffPipeWithReaderOpensQuietly)
{
    ASSERT_EQ(::mkfifo(m_settings.poweroff_path.c_str(), 0600), 0);
    const int reader = ::open(m_settings.poweroff_path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);

    {
        const auto factory = build();
    }
    ::close(reader);

    EXPECT_TRUE(m_capture.texts(ara::log::LogLevel::kError).empty());
}

} // namespace
} // namespace vela::ap::statemanager
