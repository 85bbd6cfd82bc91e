#include "ara/exec/application_client.h"
#include "ara/exec/state_client.h"
#include "ara/log/logging.h"
#include "ara/log/testing/log_capture.h"
#include "ara/phm/supervision_entity.h"
#include "platform/service_manager/tests/mocks/mock_service_manager.hpp"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>

namespace
{

using ara::log::LogLevel;
using tarn1::service_manager::testing::Mock_service_manager;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StrEq;

// The stand-ins are observed through their log lines; the simulator and the people who run the
// daemons rely on these texts to see what the daemons asked of the platform.
class Platform_standin_test : public ::testing::Test
{
  protected:
    ara::log::testing::Log_capture capture;
};

TEST_F(Platform_standin_test, StateClientStartsInStartupAndReportsTheLastRequestedStateAsReached)
{
    ara::exec::StateClient sut;
    std::string state;
    auto transition = ara::exec::Function_group_state_transition::kInTransition;

    ASSERT_EQ(sut.GetState("MachineState", state, transition), ara::exec::StateReturnType::kSuccess);
    EXPECT_EQ(state, "Startup");
    EXPECT_EQ(static_cast<int>(transition), 1);

    EXPECT_EQ(sut.SetState("MachineState", "Shutdown"), ara::exec::StateReturnType::kSuccess);
    sut.GetState("MachineState", state, transition);

    EXPECT_EQ(state, "Shutdown");
    EXPECT_EQ(capture.count("SetState(MachineState, Shutdown)", LogLevel::kInfo), 1U);
    EXPECT_EQ(capture.texts_of_context("EXEC").size(), 3U);
}

TEST_F(Platform_standin_test, ApplicationStatesAndCheckpointsAreLoggedUnderTheirOwnContexts)
{
    ara::exec::ApplicationClient client;
    ara::phm::Phm_client phm_client("STMG/Alive");
    ara::phm::SupervisionEntity entity(phm_client);

    EXPECT_EQ(client.ReportApplicationState(ara::exec::ApplicationState::kRunning),
              ara::exec::ApplicationReturnType::kSuccess);
    entity.CheckpointReached(1, 1);

    EXPECT_EQ(capture.count("ReportApplicationState(kRunning)", LogLevel::kInfo), 1U);
    EXPECT_EQ(capture.count("CheckpointReached(STMG/Alive, 1, 1)", LogLevel::kVerbose), 1U);
    EXPECT_EQ(capture.texts_of_context("PHM"),
              (std::vector<std::string>{"Phm_client(STMG/Alive)", "CheckpointReached(STMG/Alive, 1, 1)"}));
}

/// A service manager that started the process, with a watchdog of watchdog_interval.
std::shared_ptr<NiceMock<Mock_service_manager>>
present_service_manager(std::chrono::microseconds watchdog_interval = std::chrono::microseconds{0})
{
    auto service_manager = std::make_shared<NiceMock<Mock_service_manager>>();
    ON_CALL(*service_manager, is_present()).WillByDefault(Return(true));
    ON_CALL(*service_manager, watchdog_interval()).WillByDefault(Return(watchdog_interval));
    ON_CALL(*service_manager, notify(::testing::_)).WillByDefault(Return(1));
    return service_manager;
}

TEST_F(Platform_standin_test, UnderAServiceManagerRunningIsReadinessAndTerminatingIsStopping)
{
    const auto service_manager = present_service_manager();
    ::testing::InSequence in_order;
    EXPECT_CALL(*service_manager, notify(StrEq("READY=1\nSTATUS=running")));
    EXPECT_CALL(*service_manager, notify(StrEq("STOPPING=1")));
    ara::exec::ApplicationClient sut(service_manager);

    const auto running = sut.ReportApplicationState(ara::exec::ApplicationState::kRunning);
    const auto terminating = sut.ReportApplicationState(ara::exec::ApplicationState::kTerminating);

    EXPECT_EQ(running, ara::exec::ApplicationReturnType::kSuccess);
    EXPECT_EQ(terminating, ara::exec::ApplicationReturnType::kSuccess);
    EXPECT_EQ(capture.texts_of_context("EXEC"),
              (std::vector<std::string>{"ReportApplicationState(kRunning)", "ReportApplicationState(kTerminating)"}));
}

TEST_F(Platform_standin_test, WithoutAServiceManagerApplicationStatesSendNothing)
{
    auto service_manager = std::make_shared<NiceMock<Mock_service_manager>>();
    EXPECT_CALL(*service_manager, notify(::testing::_)).Times(0);
    ara::exec::ApplicationClient sut(service_manager);

    sut.ReportApplicationState(ara::exec::ApplicationState::kRunning);
    sut.ReportApplicationState(ara::exec::ApplicationState::kTerminating);

    EXPECT_EQ(capture.texts_of_context("EXEC").size(), 2U);
}

TEST_F(Platform_standin_test, UnsentReadinessIsAWarningAndStillASuccess)
{
    const auto service_manager = present_service_manager();
    ON_CALL(*service_manager, notify(::testing::_)).WillByDefault(Return(-ECONNREFUSED));
    ara::exec::ApplicationClient sut(service_manager);

    const auto result = sut.ReportApplicationState(ara::exec::ApplicationState::kRunning);

    EXPECT_EQ(result, ara::exec::ApplicationReturnType::kSuccess);
    EXPECT_TRUE(capture.contains_fragment("ReportApplicationState: service manager not notified: "));
}

TEST_F(Platform_standin_test, StateClientRequestsNeverReachTheServiceManager)
{
    // the stand-in has no way to the service manager at all: a requested "Shutdown" is only recorded
    ara::exec::StateClient sut;

    const auto result = sut.SetState("MachineState", "Shutdown");

    EXPECT_EQ(result, ara::exec::StateReturnType::kSuccess);
    EXPECT_EQ(capture.texts_of_context("EXEC"), std::vector<std::string>{"SetState(MachineState, Shutdown)"});
}

TEST_F(Platform_standin_test, CheckpointsKeepTheWatchdogAliveAtMostOncePerQuarterInterval)
{
    // a 40 s watchdog: the checkpoints of this test all fall within one 10 s spacing
    const auto service_manager = present_service_manager(std::chrono::seconds{40});
    EXPECT_CALL(*service_manager, notify(StrEq("WATCHDOG=1"))).Times(1);
    ara::phm::Phm_client client("STMG/Alive");
    ara::phm::SupervisionEntity sut(client, service_manager);

    for (int cycle = 0; cycle < 5; ++cycle)
    {
        sut.CheckpointReached(1, 1);
    }

    EXPECT_EQ(capture.count("CheckpointReached(STMG/Alive, 1, 1)", LogLevel::kVerbose), 5U);
}

TEST_F(Platform_standin_test, CheckpointsWithoutWatchdogSendNothing)
{
    const auto service_manager = present_service_manager();
    EXPECT_CALL(*service_manager, notify(::testing::_)).Times(0);
    ara::phm::Phm_client client("STMG/Alive");
    ara::phm::SupervisionEntity sut(client, service_manager);

    sut.CheckpointReached(1, 1);
    sut.CheckpointReached(1, 1);
}

TEST_F(Platform_standin_test, LastingWatchdogFailureIsOneWarningUntilItRecovers)
{
    // a 1 µs watchdog: a keep-alive is due every 250 ns, so every checkpoint (which alone takes
    // longer, for its log line) sends one
    const auto service_manager = present_service_manager(std::chrono::microseconds{1});
    EXPECT_CALL(*service_manager, notify(StrEq("WATCHDOG=1")))
        .WillOnce(Return(-ECONNREFUSED))
        .WillOnce(Return(-ECONNREFUSED))
        .WillOnce(Return(1))
        .WillOnce(Return(-ECONNREFUSED));
    ara::phm::Phm_client client("STMG/Alive");
    ara::phm::SupervisionEntity sut(client, service_manager);

    for (int cycle = 0; cycle < 4; ++cycle)
    {
        sut.CheckpointReached(1, 1);
    }

    EXPECT_EQ(capture.count("CheckpointReached: service manager watchdog not notified", LogLevel::kWarn), 2U);
}

} // namespace
