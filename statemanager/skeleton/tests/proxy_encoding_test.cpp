#include "ara/com/internal/skeleton/skeleton.h"
#include "kest/com/cpp_binding/method_impl_base.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/proxy/state_management_proxies.hpp"
#include "statemanager/skeleton/nm_proxies.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>

namespace
{

using Bytes = std::vector<std::uint8_t>;
using kest::com::cpp_binding::Method_impl_base;
using kest::com::cpp_binding::Service_handle;
using namespace std::chrono_literals;

/// What a provider received: method id and the request payload as it came off the wire.
struct Received
{
    std::uint16_t method_id;
    Bytes payload;
};

/// A provider of Interface that records every request raw and answers it with an empty reply.
template <typename Interface> class Raw_recorder : public ara::com::internal::skeleton::Skeleton<Interface>
{
  public:
    explicit Raw_recorder(const std::string& instance)
        : ara::com::internal::skeleton::Skeleton<Interface>(instance,
                                                            kest::com::cpp_binding::Method_call_processing_mode::kEvent)
    {
        for (std::uint16_t id = 0; id < Interface::description().number_of_methods; ++id)
        {
            m_methods.push_back(std::make_unique<Method_impl_base>(
                id,
                [this, id](const vela::com::runtime::Serialized_payload& request,
                           const kest::com::cpp_binding::Reply_token& reply)
                {
                    {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        m_received.push_back({id, request.bytes()});
                    }
                    Method_impl_base::reply_method(reply, {}, 0);
                },
                this->method_dispatcher()));
        }
        this->OfferService();
    }
    ~Raw_recorder() override { this->StopOfferService(); }

    std::vector<Received> received()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

  private:
    std::vector<std::unique_ptr<Method_impl_base>> m_methods;
    // Guards m_received: written by the middleware's worker, read by the test thread.
    std::mutex m_mutex;
    std::vector<Received> m_received;
};

struct Encoding_case
{
    const char* name;
    /// Makes the call through the generated proxy of the interface, given the provider's handle.
    std::function<void(const Service_handle&)> call;
    const char* service;
    std::uint16_t method_id;
    Bytes payload;
};

void PrintTo(const Encoding_case& c, std::ostream* os)
{
    *os << c.name;
}

class Proxy_encoding_test : public ::testing::TestWithParam<Encoding_case>
{
  protected:
    Proxy_encoding_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
        m_alive.emplace("rec");
        m_com_alive.emplace("rec");
        m_cwu.emplace("rec");
        m_dsa.emplace("rec");
        m_network_state.emplace("rec");
        m_user_data.emplace("rec");
    }
    ~Proxy_encoding_test() override
    {
        m_alive.reset();
        m_com_alive.reset();
        m_cwu.reset();
        m_dsa.reset();
        m_network_state.reset();
        m_user_data.reset();
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    std::vector<Received> received_by(const std::string& service)
    {
        using namespace vela::ap::statemanager;
        using namespace kest::udpnm::interface;
        if (service == StateManagementAliveInterface::service_identifier())
            return m_alive->received();
        if (service == StateManagementComAliveInterface::service_identifier())
            return m_com_alive->received();
        if (service == StateManagementCWUInterface::service_identifier())
            return m_cwu->received();
        if (service == DSAInterface::service_identifier())
            return m_dsa->received();
        if (service == NetworkStateInterface::service_identifier())
            return m_network_state->received();
        return m_user_data->received();
    }

    tarn1::testing::Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    std::optional<Raw_recorder<vela::ap::statemanager::StateManagementAliveInterface>> m_alive;
    std::optional<Raw_recorder<vela::ap::statemanager::StateManagementComAliveInterface>> m_com_alive;
    std::optional<Raw_recorder<vela::ap::statemanager::StateManagementCWUInterface>> m_cwu;
    std::optional<Raw_recorder<vela::ap::statemanager::DSAInterface>> m_dsa;
    std::optional<Raw_recorder<kest::udpnm::interface::NetworkStateInterface>> m_network_state;
    std::optional<Raw_recorder<kest::udpnm::interface::UserDataInterface>> m_user_data;
};

TEST_P(Proxy_encoding_test, ProxyCallCarriesTheDocumentedBytes)
{
    const auto& param = GetParam();
    const auto handle = tarn1::testing::wait_for_instance(m_runtime->get_service_finder(), param.service, "rec", 5s);
    ASSERT_TRUE(handle.has_value());

    param.call(*handle);

    const auto received = received_by(param.service);
    ASSERT_EQ(received.size(), 1U);
    EXPECT_EQ(received[0].method_id, param.method_id);
    EXPECT_EQ(received[0].payload, param.payload);
}

template <typename Proxy>
std::function<void(const Service_handle&)> through(std::function<vela::com::Future<void>(Proxy&)> call)
{
    return [call](const Service_handle& handle)
    {
        Proxy proxy(handle);
        call(proxy).get();
    };
}

using kest::udpnm::interface::proxy::NetworkStateInterfaceProxy;
using kest::udpnm::interface::proxy::UserDataInterfaceProxy;
using vela::ap::statemanager::proxy::DSAInterfaceProxy;
using vela::ap::statemanager::proxy::StateManagementAliveInterfaceProxy;
using vela::ap::statemanager::proxy::StateManagementComAliveInterfaceProxy;
using vela::ap::statemanager::proxy::StateManagementCWUInterfaceProxy;

INSTANTIATE_TEST_SUITE_P(
    Calls,
    Proxy_encoding_test,
    ::testing::Values(
        Encoding_case{"RequestNetwork",
                      through<NetworkStateInterfaceProxy>(
                          [](auto& p) {
                              return p.RequestNetwork(Bytes{0, 0, 0, 1});
                          }),
                      "kest::udpnm::interface::NetworkStateInterface",
                      1,
                      {0, 0, 0, 4, 0, 0, 0, 1}},
        Encoding_case{"RequestNetworkEmptyPattern",
                      through<NetworkStateInterfaceProxy>([](auto& p) { return p.RequestNetwork(Bytes{}); }),
                      "kest::udpnm::interface::NetworkStateInterface",
                      1,
                      {0, 0, 0, 0}},
        Encoding_case{"ReleaseNetwork",
                      through<NetworkStateInterfaceProxy>(
                          [](auto& p) {
                              return p.ReleaseNetwork(Bytes{0xFF, 0xFF, 0xFF, 1});
                          }),
                      "kest::udpnm::interface::NetworkStateInterface",
                      0,
                      {0, 0, 0, 4, 0xFF, 0xFF, 0xFF, 1}},
        Encoding_case{"SetUserData",
                      through<UserDataInterfaceProxy>(
                          [](auto& p) {
                              return p.SetUserData(Bytes{0x80, 0, 0});
                          }),
                      "kest::udpnm::interface::UserDataInterface",
                      1,
                      {0, 0, 0, 3, 0x80, 0, 0}},
        Encoding_case{"RequestComAlive",
                      through<StateManagementComAliveInterfaceProxy>(
                          [](auto& p) {
                              return p.RequestComAlive(Bytes{1, 0, 0, 0}, 3);
                          }),
                      "vela::ap::statemanager::StateManagementComAliveInterface",
                      1,
                      {0, 0, 0, 4, 1, 0, 0, 0, 3}},
        Encoding_case{"ReleaseComAlive",
                      through<StateManagementComAliveInterfaceProxy>(
                          [](auto& p) {
                              return p.ReleaseComAlive(Bytes{0, 2});
                          }),
                      "vela::ap::statemanager::StateManagementComAliveInterface",
                      0,
                      {0, 0, 0, 2, 0, 2}},
        Encoding_case{"RequestCarWakeUp",
                      through<StateManagementCWUInterfaceProxy>([](auto& p) { return p.RequestCarWakeUp(3); }),
                      "vela::ap::statemanager::StateManagementCWUInterface",
                      1,
                      {3}},
        Encoding_case{"RequestAlive",
                      through<StateManagementAliveInterfaceProxy>([](auto& p) { return p.RequestAlive(); }),
                      "vela::ap::statemanager::StateManagementAliveInterface",
                      1,
                      {}},
        Encoding_case{"RequestRestart",
                      through<DSAInterfaceProxy>([](auto& p) { return p.RequestRestart(1); }),
                      "vela::ap::statemanager::DSAInterface",
                      0,
                      {1}}),
    [](const ::testing::TestParamInfo<Encoding_case>& c) { return std::string(c.param.name); });

} // namespace
