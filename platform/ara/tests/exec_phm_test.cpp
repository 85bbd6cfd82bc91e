#include "ara/exec/application_client.h"
#include "ara/exec/state_client.h"
#include "ara/log/logging.h"
#include "ara/log/testing/log_capture.h"
#include "ara/phm/supervision_entity.h"

#include <gtest/gtest.h>

namespace
{

using ara::log::LogLevel;

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

} // namespace
