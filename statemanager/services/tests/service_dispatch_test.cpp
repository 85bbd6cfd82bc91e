#include "kest/com/cpp_binding/rport.h"
#include "kest/com/exceptions.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/services/state_manager_com_alive_interface.hpp"
#include "statemanager/services/state_manager_cwu_interface.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <ostream>

namespace vela::ap::statemanager
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

std::string hex(const Bytes& bytes)
{
    std::string text;
    for (const auto byte : bytes)
    {
        text += std::to_string(byte) + " ";
    }
    return text;
}

/// Two COM-alive and one car-wake-up instance offered in this process, their callbacks recording
/// what reached the service handler's side as "<app id>: <call>".
class Service_dispatch_test : public ::testing::Test
{
  protected:
    Service_dispatch_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
        for (const char* instance : {"ComAlive_A", "ComAlive_B"})
        {
            auto& service = m_com_alive.emplace_back(std::make_unique<State_manager_com_alive_interface>(instance));
            const std::string id = service->get_app_id();
            service->set_com_alive_request_cb([this, id](const Bytes& cab, std::uint8_t ac)
                                              { record(id + ": request " + hex(cab) + "ac " + std::to_string(ac)); });
            service->set_com_alive_release_cb([this, id](const Bytes& cab) { record(id + ": release " + hex(cab)); });
            service->OfferService();
        }
        m_cwu.emplace("Cwu_A");
        m_cwu->set_cwu_request_cb([this](std::uint8_t ac) { record("Cwu_A: request ac " + std::to_string(ac)); });
        m_cwu->set_cwu_release_cb([this] { record("Cwu_A: release"); });
        m_cwu->OfferService();
    }
    ~Service_dispatch_test() override
    {
        m_cwu.reset();
        m_com_alive.clear();
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    void record(const std::string& call)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
    }
    std::vector<std::string> calls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

    /// Calls method_id of the instance with a raw request payload; the reply's return code.
    std::uint8_t call(const char* service,
                      const kest::com::connector::Service_interface_description& description,
                      const std::string& instance,
                      std::uint16_t method_id,
                      const Bytes& request)
    {
        const auto handle = tarn1::testing::wait_for_instance(m_runtime->get_service_finder(), service, instance, 5s);
        if (!handle)
        {
            ADD_FAILURE() << instance << " not offered";
            return 0xFF;
        }
        kest::com::cpp_binding::Rport port(*handle, description);
        try
        {
            EXPECT_TRUE(port.call_method(method_id, vela::com::runtime::Serialized_payload(request)).get().empty());
            return 0;
        }
        catch (const kest::com::cpp_binding::Application_error_exception& error)
        {
            return error.return_code();
        }
    }
    std::uint8_t call_com_alive(const std::string& instance, std::uint16_t method_id, const Bytes& request)
    {
        return call(StateManagementComAliveInterface::service_identifier(),
                    StateManagementComAliveInterface::description(),
                    instance,
                    method_id,
                    request);
    }

    tarn1::testing::Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    std::vector<std::unique_ptr<State_manager_com_alive_interface>> m_com_alive;
    std::optional<State_manager_cwu_interface> m_cwu;
    // Guards m_calls: written by the middleware's workers, read by the test thread.
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

TEST_F(Service_dispatch_test, EachInstanceDeliversItsOwnApplicationId)
{
    EXPECT_EQ(call_com_alive("ComAlive_A", 1, {0, 0, 0, 4, 1, 0, 0, 0, 3}), 0);
    EXPECT_EQ(call_com_alive("ComAlive_B", 1, {0, 0, 0, 1, 2, 9}), 0);
    EXPECT_EQ(call_com_alive("ComAlive_A", 0, {0, 0, 0, 1, 1}), 0);

    EXPECT_EQ(calls(),
              (std::vector<std::string>{
                  "ComAlive_A: request 1 0 0 0 ac 3", "ComAlive_B: request 2 ac 9", "ComAlive_A: release 1 "}));
}

TEST_F(Service_dispatch_test, TruncatedRequestComAliveIsAnsweredWith0x80AndChangesNothing)
{
    EXPECT_EQ(call_com_alive("ComAlive_A", 1, {0, 0, 0, 4, 1, 0}), 0x80);
    EXPECT_EQ(call_com_alive("ComAlive_A", 1, {0, 0, 0, 4, 1, 0, 0, 0}), 0x80);
    EXPECT_EQ(call_com_alive("ComAlive_A", 0, {0, 0, 1}), 0x80);

    EXPECT_TRUE(calls().empty());
}

TEST_F(Service_dispatch_test, CarWakeUpCallsReachTheirCallbacks)
{
    const auto cwu = [this](std::uint16_t method_id, const Bytes& request)
    {
        return call(StateManagementCWUInterface::service_identifier(),
                    StateManagementCWUInterface::description(),
                    "Cwu_A",
                    method_id,
                    request);
    };

    EXPECT_EQ(cwu(1, {7}), 0);
    EXPECT_EQ(cwu(1, {}), 0x80);
    EXPECT_EQ(cwu(0, {}), 0);

    EXPECT_EQ(calls(), (std::vector<std::string>{"Cwu_A: request ac 7", "Cwu_A: release"}));
}

TEST(Service_without_callback_test, CallBeforeTheHandlerIsSetIsAnsweredAndLeftAlone)
{
    tarn1::testing::Temp_dir dir;
    ::setenv("TARN1_COM_DIR", dir.path().c_str(), 1);
    {
        State_manager_com_alive_interface sut("ComAlive_A");

        EXPECT_TRUE(sut.RequestComAlive({1}, 3).is_ready());
        EXPECT_TRUE(sut.ReleaseComAlive({1}).is_ready());
    }
    ::unsetenv("TARN1_COM_DIR");
}

} // namespace
} // namespace vela::ap::statemanager
