#include "ara/log/testing/log_capture.h"
#include "statemanager/em/em_interface.hpp"
#include "statemanager/em/tests/mocks/em_interface_with_mock_client.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ostream>
#include <stdexcept>
#include <string>

namespace vela::ap::statemanager
{
namespace
{

using ara::exec::Function_group_state_transition;
using ara::exec::StateReturnType;
using ara::log::LogLevel;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::Throw;

class Em_interface_test : public ::testing::Test
{
  protected:
    ara::log::testing::Log_capture m_capture;
    ::testing::NiceMock<testing::Em_interface_with_mock_client> sut;
};

TEST_F(Em_interface_test, EnteringRunningTwiceRequestsRunningTwice)
{
    EXPECT_CALL(sut, StateClient_SetState("MachineState", "Running"))
        .Times(2)
        .WillRepeatedly(Return(StateReturnType::kSuccess));

    sut.request_running();
    sut.request_running();

    EXPECT_EQ(m_capture.count("Setting EM machine state to running", LogLevel::kInfo), 2U);
}

TEST_F(Em_interface_test, ShutdownRequestsTheShutdownMachineState)
{
    EXPECT_CALL(sut, StateClient_SetState("MachineState", "Shutdown")).WillOnce(Return(StateReturnType::kSuccess));

    sut.request_shutdown();

    EXPECT_EQ(m_capture.count("Setting EM machine state to shutdown", LogLevel::kInfo), 1U);
}

struct Throwing_request_case
{
    const char* label;
    void (Em_interface::*request)();
    const char* error_text;
};

void PrintTo(const Throwing_request_case& value, std::ostream* os)
{
    *os << value.label;
}

class Em_interface_throwing_request_test : public Em_interface_test,
                                           public ::testing::WithParamInterface<Throwing_request_case>
{
};

TEST_P(Em_interface_throwing_request_test, RuntimeErrorIsLoggedOnceAndNotPassedOn)
{
    ON_CALL(sut, StateClient_SetState(_, _)).WillByDefault(Throw(std::runtime_error("no EM")));

    EXPECT_NO_THROW((sut.*GetParam().request)());

    EXPECT_EQ(m_capture.texts(LogLevel::kError),
              std::vector<std::string>{std::string{GetParam().error_text} + "no EM"});
}

INSTANTIATE_TEST_SUITE_P(
    Requests,
    Em_interface_throwing_request_test,
    ::testing::Values(Throwing_request_case{"Running",
                                            &Em_interface::request_running,
                                            "StateClient::SetState(MachineState, Running) exception: "},
                      Throwing_request_case{"Shutdown",
                                            &Em_interface::request_shutdown,
                                            "StateClient::SetState(MachineState, Shutdown) exception: "}),
    [](const ::testing::TestParamInfo<Throwing_request_case>& param) { return std::string{param.param.label}; });

TEST_F(Em_interface_test, OtherExceptionsOfSetStateReachTheCaller)
{
    ON_CALL(sut, StateClient_SetState(_, _)).WillByDefault(Throw(std::logic_error("bug")));

    EXPECT_THROW(sut.request_running(), std::logic_error);
}

struct Started_case
{
    const char* label;
    const char* state;
    int transition;
    bool started;
};

void PrintTo(const Started_case& value, std::ostream* os)
{
    *os << value.label;
}

class Em_interface_started_test : public ::testing::TestWithParam<Started_case>
{
};

TEST_P(Em_interface_started_test, StartedOnlyForStartupOrRunningWhenReached)
{
    const Started_case& row = GetParam();

    EXPECT_EQ(Em_interface::em_started(row.state, static_cast<Function_group_state_transition>(row.transition)),
              row.started);
}

INSTANTIATE_TEST_SUITE_P(TruthTable,
                         Em_interface_started_test,
                         ::testing::Values(Started_case{"RunningReached", "Running", 1, true},
                                           Started_case{"StartupReached", "Startup", 1, true},
                                           Started_case{"RunningInTransition", "Running", 0, false},
                                           Started_case{"StartupInTransition", "Startup", 0, false},
                                           Started_case{"ShutdownReached", "Shutdown", 1, false},
                                           Started_case{"EmptyReached", "", 1, false},
                                           Started_case{"LowerCaseRunningReached", "running", 1, false},
                                           Started_case{"RunningOtherPhase", "Running", 2, false}),
                         [](const ::testing::TestParamInfo<Started_case>& param)
                         { return std::string{param.param.label}; });

TEST_F(Em_interface_test, RunningStateIsSeenWhenEmReportsItReached)
{
    ON_CALL(sut, GetState("MachineState", _, _))
        .WillByDefault(DoAll(SetArgReferee<1>(std::string{"Running"}),
                             SetArgReferee<2>(Function_group_state_transition::kFinished),
                             Return(StateReturnType::kSuccess)));

    EXPECT_TRUE(sut.check_for_running_state());
}

TEST_F(Em_interface_test, ErrorCodeOfGetStateMeansNotStartedAndIsLoggedWithTheCode)
{
    ON_CALL(sut, GetState(_, _, _))
        .WillByDefault(DoAll(SetArgReferee<1>(std::string{"Running"}),
                             SetArgReferee<2>(Function_group_state_transition::kFinished),
                             Return(StateReturnType::kInvalidArguments)));

    EXPECT_FALSE(sut.check_for_running_state());

    EXPECT_EQ(m_capture.count("EM has not been started. Error code: 2", LogLevel::kError), 1U);
}

TEST_F(Em_interface_test, ThrowingGetStateIsLoggedOnceAndJudgedOnWhatItLeftBehind)
{
    ON_CALL(sut, GetState(_, _, _))
        .WillByDefault(DoAll(SetArgReferee<1>(std::string{"Startup"}),
                             SetArgReferee<2>(Function_group_state_transition::kFinished),
                             Throw(std::runtime_error("lost"))));

    bool started = false;
    EXPECT_NO_THROW(started = sut.check_for_running_state());

    EXPECT_TRUE(started);
    EXPECT_EQ(m_capture.texts(LogLevel::kError),
              std::vector<std::string>{"StateClient::GetState(MachineState, state, phase) exception: lost"});
}

TEST_F(Em_interface_test, ThrowingGetStateThatLeftNothingIsNotStarted)
{
    ON_CALL(sut, GetState(_, _, _)).WillByDefault(Throw(std::runtime_error("lost")));

    EXPECT_FALSE(sut.check_for_running_state());
}

} // namespace
} // namespace vela::ap::statemanager
