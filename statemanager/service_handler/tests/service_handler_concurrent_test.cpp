#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/config/state_manager_config.hpp"
#include "statemanager/proxy/state_management_proxies.hpp"
#include "statemanager/service_handler/service_handler.hpp"
#include "statemanager/service_handler/tests/mocks/recording_nm_interface.hpp"
#include "statemanager/services/state_manager_com_alive_interface.hpp"
#include "statemanager/services/state_manager_cwu_interface.hpp"
#include "testbed/support/temp_dir.hpp"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>
#include <optional>
#include <thread>

namespace vela::ap::statemanager
{
namespace
{

using namespace std::chrono_literals;

constexpr int s_rounds = 25;

class Service_handler_concurrent_test : public ::testing::Test
{
  protected:
    Service_handler_concurrent_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
        config.set_nm_request_pattern({0x00, 0x00, 0x00, 0x01});
        config.set_smw_restart_command_path(m_dir.file("command_request"));
        config.set_max_apps_ecualive(2);
        config.set_max_apps_comalive(4);
        config.set_max_apps_cwu(2);
        for (const char* name : {"EcuAlive_0", "EcuAlive_1"})
        {
            EXPECT_TRUE(config.add_apps_ecualive(name));
        }
        std::vector<std::unique_ptr<State_manager_com_alive_interface_abstract>> com_alive;
        for (const char* name : {"ComAlive_0", "ComAlive_1", "ComAlive_2", "ComAlive_3"})
        {
            EXPECT_TRUE(config.add_apps_comalive(name));
            com_alive.push_back(std::make_unique<State_manager_com_alive_interface>(name));
        }
        std::vector<std::unique_ptr<State_manager_cwu_interface_abstract>> cwu;
        for (const char* name : {"Cwu_0", "Cwu_1"})
        {
            EXPECT_TRUE(config.add_apps_cwu(name));
            cwu.push_back(std::make_unique<State_manager_cwu_interface>(name));
        }
        sut.emplace(
            config, std::make_unique<testing::Recording_nm_interface>(nm), std::move(com_alive), std::move(cwu));
    }
    ~Service_handler_concurrent_test() override
    {
        sut.reset();
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    template <typename Proxy> std::unique_ptr<Proxy> connect(const char* service, const std::string& instance)
    {
        const auto handle = tarn1::testing::wait_for_instance(m_runtime->get_service_finder(), service, instance, 10s);
        if (!handle)
        {
            ADD_FAILURE() << instance << " not offered";
            return nullptr;
        }
        return std::make_unique<Proxy>(*handle);
    }

    tarn1::testing::Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    config::State_manager_config config;
    std::shared_ptr<testing::Recording_nm_interface::State> nm =
        std::make_shared<testing::Recording_nm_interface::State>();
    std::optional<Service_handler> sut;
};

TEST_F(Service_handler_concurrent_test, ConcurrentApplicationsLeaveNothingRequestedOnceAllReleased)
{
    sut->init();
    nm->found();
    std::vector<std::unique_ptr<proxy::StateManagementComAliveInterfaceProxy>> com_alive;
    for (int i = 0; i < 4; ++i)
    {
        com_alive.push_back(connect<proxy::StateManagementComAliveInterfaceProxy>(
            StateManagementComAliveInterface::service_identifier(), "ComAlive_" + std::to_string(i)));
    }
    std::vector<std::unique_ptr<proxy::StateManagementCWUInterfaceProxy>> cwu;
    std::vector<std::unique_ptr<proxy::StateManagementAliveInterfaceProxy>> ecu_alive;
    for (int i = 0; i < 2; ++i)
    {
        cwu.push_back(connect<proxy::StateManagementCWUInterfaceProxy>(
            StateManagementCWUInterface::service_identifier(), "Cwu_" + std::to_string(i)));
        ecu_alive.push_back(connect<proxy::StateManagementAliveInterfaceProxy>(
            StateManagementAliveInterface::service_identifier(), "EcuAlive_" + std::to_string(i)));
    }
    for (const auto& connected : com_alive)
    {
        ASSERT_NE(connected, nullptr);
    }
    nm->take_calls();

    // every application requests and releases in its own rhythm
    std::vector<std::thread> applications;
    for (int i = 0; i < 4; ++i)
    {
        applications.emplace_back(
            [&, i]
            {
                // applications 0 and 1 share CAB bit 0; 2 and 3 each have their own bit
                const std::vector<std::uint8_t> bits{static_cast<std::uint8_t>(i < 2 ? 0x01 : 1 << i), 0x00, 0x00};
                for (int round = 0; round < s_rounds; ++round)
                {
                    com_alive[i]->RequestComAlive(bits, static_cast<std::uint8_t>(i + 1)).get();
                    com_alive[i]->ReleaseComAlive(bits).get();
                }
            });
    }
    for (int i = 0; i < 2; ++i)
    {
        applications.emplace_back(
            [&, i]
            {
                for (int round = 0; round < s_rounds; ++round)
                {
                    cwu[i]->RequestCarWakeUp(static_cast<std::uint8_t>(10 + i)).get();
                    ecu_alive[i]->RequestAlive().get();
                    cwu[i]->ReleaseCarWakeUp().get();
                    ecu_alive[i]->ReleaseAlive().get();
                }
            });
    }
    // the network reports its state meanwhile
    std::atomic<bool> applications_done{false};
    std::thread network(
        [&]
        {
            std::uint8_t value = 0;
            while (!applications_done.load())
            {
                nm->notify({value});
                value = static_cast<std::uint8_t>(value ^ 1U);
                std::this_thread::yield();
            }
        });
    // and the state machine polls, goes to standby and resumes
    for (int round = 0; round < s_rounds; ++round)
    {
        static_cast<void>(sut->is_network_in_use());
        static_cast<void>(sut->ecu_in_sleep_mode());
        if (round % 5 == 0)
        {
            sut->standby();
            sut->end_standby();
        }
    }
    for (auto& application : applications)
    {
        application.join();
    }
    applications_done.store(true);
    network.join();
    nm->take_calls();

    sut->end_standby();

    EXPECT_FALSE(sut->apps_keep_com_alive());
    EXPECT_FALSE(sut->apps_keep_ecu_alive());
    EXPECT_EQ(nm->take_calls(),
              (std::vector<std::string>{
                  "request_network(00 00 00 01 )", "request_network(00 00 00 00 )", "set_user_data(80 00 00 )"}));
}

TEST_F(Service_handler_concurrent_test, DeinitWithApplicationCallsInFlightLeavesTheNmClientUnusedOnceDestroyed)
{
    sut->init();
    nm->found();
    std::vector<std::unique_ptr<proxy::StateManagementComAliveInterfaceProxy>> com_alive;
    for (int i = 0; i < 4; ++i)
    {
        com_alive.push_back(connect<proxy::StateManagementComAliveInterfaceProxy>(
            StateManagementComAliveInterface::service_identifier(), "ComAlive_" + std::to_string(i)));
        ASSERT_NE(com_alive.back(), nullptr);
    }
    std::atomic<int> answered{0};
    std::atomic<bool> stop{false};

    // applications call without pause until their services are gone
    std::vector<std::thread> applications;
    for (int i = 0; i < 4; ++i)
    {
        applications.emplace_back(
            [&, i]
            {
                const std::vector<std::uint8_t> bits{static_cast<std::uint8_t>(1U << i), 0x00, 0x00};
                while (!stop.load())
                {
                    try
                    {
                        com_alive[i]->RequestComAlive(bits, 1).get();
                        com_alive[i]->ReleaseComAlive(bits).get();
                        answered.fetch_add(1);
                    }
                    catch (const std::exception&)
                    {
                        // withdrawn: the calls fail from now on
                    }
                }
            });
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (answered.load() < 20 && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::yield();
    }
    // the main loop has ended
    auto deinit = std::async(std::launch::async, [this] { sut->deinit(); });
    const bool deinit_returned = deinit.wait_for(10s) == std::future_status::ready;
    stop.store(true);
    for (auto& application : applications)
    {
        application.join();
    }

    ASSERT_TRUE(deinit_returned) << "deinit waits for calls that wait for it";
    EXPECT_GE(answered.load(), 20);
    const std::vector<std::string> calls = nm->take_calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back(), "destroyed") << "a call reached the NM client after it was destroyed";
}

} // namespace
} // namespace vela::ap::statemanager
