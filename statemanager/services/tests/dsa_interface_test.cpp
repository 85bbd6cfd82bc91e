#include "ara/log/testing/log_capture.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/proxy/state_management_proxies.hpp"
#include "statemanager/services/dsa_interface.hpp"
#include "statemanager/services/tests/mocks/mock_shared_memory_reboot.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <thread>

namespace vela::ap::statemanager::services
{
namespace
{

using ara::log::LogLevel;
using ::testing::InSequence;
using namespace std::chrono_literals;

struct Restart_case
{
    const char* name;
    std::uint8_t restart_type;
    std::string command_file;
    std::string log_text;
    LogLevel log_level;
};

void PrintTo(const Restart_case& c, std::ostream* os)
{
    *os << c.name;
}

class Dsa_interface_test : public ::testing::TestWithParam<Restart_case>
{
  protected:
    Dsa_interface_test() { ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1); }
    ~Dsa_interface_test() override { ::unsetenv("TARN1_COM_DIR"); }

    tarn1::testing::Temp_dir m_dir;
    ara::log::testing::Log_capture capture;
};

TEST_P(Dsa_interface_test, RestartTypeWritesItsWordOrOnlyLogs)
{
    const Restart_case& c = GetParam();
    const std::string path = m_dir.file("command_request");
    Dsa_interface sut(path);

    const vela::com::Future<void> reply = sut.RequestRestart(c.restart_type);

    EXPECT_TRUE(reply.is_ready());
    EXPECT_EQ(m_dir.read_file("command_request"), c.command_file);
    EXPECT_EQ(capture.count(c.log_text, c.log_level), 1U);
}

INSTANTIATE_TEST_SUITE_P(
    Types,
    Dsa_interface_test,
    ::testing::Values(
        Restart_case{"OwnVm", 1, "restartao", "RequestDiagnosticRestart for own VM", LogLevel::kInfo},
        Restart_case{"Two", 2, "", "Received unused RequestDiagnosticRestart = 2 (no action) ", LogLevel::kInfo},
        Restart_case{"Three", 3, "", "Received unused RequestDiagnosticRestart = 3 (no action)", LogLevel::kInfo},
        Restart_case{"Four", 4, "", "Received unused RequestDiagnosticRestart = 4 (no action)", LogLevel::kInfo},
        Restart_case{"M3", 5, "restartm3", "RequestDiagnosticRestart for M3", LogLevel::kInfo},
        Restart_case{"Zero", 0, "", "DSA received unknown RestartType !", LogLevel::kWarn},
        Restart_case{"Six", 6, "", "DSA received unknown RestartType !", LogLevel::kWarn},
        Restart_case{"Max", 255, "", "DSA received unknown RestartType !", LogLevel::kWarn}),
    [](const ::testing::TestParamInfo<Restart_case>& c) { return std::string(c.param.name); });

TEST(Dsa_interface_writer_test, EachRestartTypeReachesItsWriterOperation)
{
    auto writer = std::make_unique<::testing::StrictMock<testing::Mock_shared_memory_reboot>>();
    {
        InSequence in_order;
        EXPECT_CALL(*writer, restart_m3());
        EXPECT_CALL(*writer, restart_vm());
    }
    tarn1::testing::Temp_dir dir;
    ::setenv("TARN1_COM_DIR", dir.path().c_str(), 1);
    {
        Dsa_interface sut(std::move(writer));

        for (const std::uint8_t type : {5, 2, 3, 4, 0, 6, 1})
        {
            EXPECT_TRUE(sut.RequestRestart(type).is_ready());
        }
    }
    ::unsetenv("TARN1_COM_DIR");
}

TEST(Dsa_interface_middleware_test, RestartsFromTwoCallersReachTheCommandFileWordByWord)
{
    tarn1::testing::Temp_dir dir;
    ::setenv("TARN1_COM_DIR", dir.path().c_str(), 1);
    {
        kest::com::runtime::Component_singleton runtime(false, "test");
        Dsa_interface sut(dir.file("command_request"));
        sut.OfferService();
        const auto handle = tarn1::testing::wait_for_instance(
            runtime.get_service_finder(), DSAInterface::service_identifier(), "DSA_Interface", 5s);
        ASSERT_TRUE(handle.has_value());
        proxy::DSAInterfaceProxy first(*handle);
        proxy::DSAInterfaceProxy second(*handle);

        // a diagnostic tester and a second client ask at the same time
        std::thread other(
            [&]
            {
                for (int i = 0; i < 5; ++i)
                {
                    second.RequestRestart(5).get();
                }
            });
        for (int i = 0; i < 5; ++i)
        {
            first.RequestRestart(1).get();
        }
        other.join();

        const std::string words = dir.read_file("command_request");
        ASSERT_EQ(words.size(), 10U * 9U);
        for (std::size_t i = 0; i < words.size(); i += 9)
        {
            const std::string word = words.substr(i, 9);
            EXPECT_TRUE(word == "restartao" || word == "restartm3") << word;
        }
    }
    ::unsetenv("TARN1_COM_DIR");
}

} // namespace
} // namespace vela::ap::statemanager::services
