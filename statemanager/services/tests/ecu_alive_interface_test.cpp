#include "statemanager/services/ecu_alive_interface.hpp"
#include "statemanager/services/tests/mocks/mock_ecu_alive_interface_callback.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cstdlib>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vela::ap::statemanager::services
{
namespace
{

using ::testing::InSequence;
using ::testing::Invoke;
using ::testing::NiceMock;

class Ecu_alive_interface_test : public ::testing::Test
{
  protected:
    Ecu_alive_interface_test() { ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1); }
    ~Ecu_alive_interface_test() override { ::unsetenv("TARN1_COM_DIR"); }

    tarn1::testing::Temp_dir m_dir;
    NiceMock<testing::Mock_ecu_alive_interface_callback> callback;
};

TEST_F(Ecu_alive_interface_test, FlagChangesBeforeTheCallbackRuns)
{
    Ecu_alive_interface sut("EcuAlive_A", &callback);
    InSequence in_order;
    EXPECT_CALL(callback, ecu_alive_request("EcuAlive_A"))
        .WillOnce(Invoke([&](const std::string&) { EXPECT_TRUE(sut.app_keeps_ecu_alive()); }));
    EXPECT_CALL(callback, ecu_alive_release("EcuAlive_A"))
        .WillOnce(Invoke([&](const std::string&) { EXPECT_FALSE(sut.app_keeps_ecu_alive()); }));

    EXPECT_TRUE(sut.RequestAlive().is_ready());
    EXPECT_TRUE(sut.ReleaseAlive().is_ready());
}

TEST_F(Ecu_alive_interface_test, OneReleaseUndoesTwoRequests)
{
    Ecu_alive_interface sut("EcuAlive_A", &callback);

    sut.RequestAlive();
    sut.RequestAlive();
    sut.ReleaseAlive();

    EXPECT_FALSE(sut.app_keeps_ecu_alive());
}

TEST_F(Ecu_alive_interface_test, WithoutCallbackOnlyTheFlagChanges)
{
    Ecu_alive_interface sut("EcuAlive_A", nullptr);

    sut.RequestAlive();

    EXPECT_TRUE(sut.app_keeps_ecu_alive());
}

} // namespace
} // namespace vela::ap::statemanager::services
