#include "kest/com/cpp_binding/rport.h"
#include "kest/com/exceptions.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/skeleton/service_interfaces.hpp"
#include "statemanager/skeleton/tests/mocks/mock_service_skeletons.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <iomanip>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>

namespace vela::ap::statemanager
{
namespace
{

using ::testing::_;
using ::testing::NiceMock;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

std::string hex(const Bytes& bytes)
{
    std::ostringstream text;
    for (const auto byte : bytes)
    {
        text << std::hex << std::setw(2) << std::setfill('0') << static_cast<unsigned>(byte) << ' ';
    }
    return text.str();
}

struct Dispatch_case
{
    const char* name;
    const char* service;
    std::uint16_t method_id;
    Bytes request;
    /// The operation call the request becomes; empty when none may happen.
    std::string expected_call;
    std::uint8_t expected_return_code;
};

void PrintTo(const Dispatch_case& c, std::ostream* os)
{
    *os << c.name;
}

/// The four generated skeletons offered in this process, each recording its operation calls as text.
class Service_skeleton_test : public ::testing::TestWithParam<Dispatch_case>
{
  protected:
    Service_skeleton_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
        m_alive.emplace("app_1");
        m_com_alive.emplace("app_1");
        m_cwu.emplace("app_1");
        m_dsa.emplace(DSAInterface::instance());
        ON_CALL(*m_alive, ReleaseAlive()).WillByDefault([this] { return record("ReleaseAlive()"); });
        ON_CALL(*m_alive, RequestAlive()).WillByDefault([this] { return record("RequestAlive()"); });
        ON_CALL(*m_com_alive, ReleaseComAlive(_))
            .WillByDefault([this](const Bytes& cab) { return record("ReleaseComAlive(" + hex(cab) + ")"); });
        ON_CALL(*m_com_alive, RequestComAlive(_, _))
            .WillByDefault([this](const Bytes& cab, std::uint8_t ac)
                           { return record("RequestComAlive(" + hex(cab) + ", " + std::to_string(ac) + ")"); });
        ON_CALL(*m_cwu, ReleaseCarWakeUp()).WillByDefault([this] { return record("ReleaseCarWakeUp()"); });
        ON_CALL(*m_cwu, RequestCarWakeUp(_))
            .WillByDefault([this](std::uint8_t ac) { return record("RequestCarWakeUp(" + std::to_string(ac) + ")"); });
        ON_CALL(*m_dsa, RequestRestart(_))
            .WillByDefault([this](std::uint8_t type)
                           { return record("RequestRestart(" + std::to_string(type) + ")"); });
        m_alive->OfferService();
        m_com_alive->OfferService();
        m_cwu->OfferService();
        m_dsa->OfferService();
    }
    ~Service_skeleton_test() override
    {
        m_dsa.reset();
        m_cwu.reset();
        m_com_alive.reset();
        m_alive.reset();
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    vela::com::Future<void> record(const std::string& call)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
        return vela::com::make_ready_future();
    }
    std::vector<std::string> calls()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_calls;
    }

    kest::com::connector::Service_interface_description description_of(const std::string& service)
    {
        for (const auto& description : {StateManagementAliveInterface::description(),
                                        StateManagementComAliveInterface::description(),
                                        StateManagementCWUInterface::description(),
                                        DSAInterface::description()})
        {
            if (description.service_name == service)
            {
                return description;
            }
        }
        return {};
    }

    tarn1::testing::Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    std::optional<NiceMock<testing::Mock_alive_skeleton>> m_alive;
    std::optional<NiceMock<testing::Mock_com_alive_skeleton>> m_com_alive;
    std::optional<NiceMock<testing::Mock_cwu_skeleton>> m_cwu;
    std::optional<NiceMock<testing::Mock_dsa_skeleton>> m_dsa;
    // Guards m_calls: written by the middleware's workers, read by the test thread.
    std::mutex m_mutex;
    std::vector<std::string> m_calls;
};

TEST_P(Service_skeleton_test, RequestIsDecodedIntoOneCallOrAnsweredWith0x80)
{
    const auto& param = GetParam();
    const std::string instance =
        std::string(param.service) == DSAInterface::service_identifier() ? "DSA_Interface" : "app_1";
    const auto handle = tarn1::testing::wait_for_instance(m_runtime->get_service_finder(), param.service, instance, 5s);
    ASSERT_TRUE(handle.has_value());
    kest::com::cpp_binding::Rport port(*handle, description_of(param.service));

    std::uint8_t return_code = 0;
    try
    {
        const auto reply =
            port.call_method(param.method_id, vela::com::runtime::Serialized_payload(param.request)).get();
        EXPECT_TRUE(reply.empty());
    }
    catch (const kest::com::cpp_binding::Application_error_exception& error)
    {
        return_code = error.return_code();
    }

    EXPECT_EQ(return_code, param.expected_return_code);
    if (param.expected_call.empty())
    {
        EXPECT_TRUE(calls().empty());
    }
    else
    {
        EXPECT_EQ(calls(), std::vector<std::string>{param.expected_call});
    }
}

const char* const s_alive = "vela::ap::statemanager::StateManagementAliveInterface";
const char* const s_com_alive = "vela::ap::statemanager::StateManagementComAliveInterface";
const char* const s_cwu = "vela::ap::statemanager::StateManagementCWUInterface";
const char* const s_dsa = "vela::ap::statemanager::DSAInterface";

INSTANTIATE_TEST_SUITE_P(
    Methods,
    Service_skeleton_test,
    ::testing::Values(
        Dispatch_case{"ReleaseAlive", s_alive, 0, {}, "ReleaseAlive()", 0},
        Dispatch_case{"RequestAlive", s_alive, 1, {}, "RequestAlive()", 0},
        Dispatch_case{"ReleaseComAlive", s_com_alive, 0, {0, 0, 0, 2, 0xFF, 1}, "ReleaseComAlive(ff 01 )", 0},
        Dispatch_case{
            "RequestComAlive", s_com_alive, 1, {0, 0, 0, 4, 1, 0, 0, 0, 3}, "RequestComAlive(01 00 00 00 , 3)", 0},
        Dispatch_case{"RequestComAliveEmptyCab", s_com_alive, 1, {0, 0, 0, 0, 9}, "RequestComAlive(, 9)", 0},
        Dispatch_case{"ReleaseCarWakeUp", s_cwu, 0, {}, "ReleaseCarWakeUp()", 0},
        Dispatch_case{"RequestCarWakeUp", s_cwu, 1, {7}, "RequestCarWakeUp(7)", 0},
        Dispatch_case{"RequestRestart", s_dsa, 0, {5}, "RequestRestart(5)", 0},
        Dispatch_case{"RequestComAliveEndsInsideCab", s_com_alive, 1, {0, 0, 0, 4, 1, 0}, "", 0x80},
        Dispatch_case{"RequestComAliveWithoutAc", s_com_alive, 1, {0, 0, 0, 4, 1, 0, 0, 0}, "", 0x80},
        Dispatch_case{"ReleaseComAliveInsideLength", s_com_alive, 0, {0, 0}, "", 0x80},
        Dispatch_case{"ReleaseComAliveLengthBeyondPayload", s_com_alive, 0, {0, 0, 1, 0, 1}, "", 0x80},
        Dispatch_case{"RequestCarWakeUpEmpty", s_cwu, 1, {}, "", 0x80},
        Dispatch_case{"RequestRestartEmpty", s_dsa, 0, {}, "", 0x80}),
    [](const ::testing::TestParamInfo<Dispatch_case>& c) { return std::string(c.param.name); });

} // namespace
} // namespace vela::ap::statemanager
