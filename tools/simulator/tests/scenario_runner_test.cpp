#include "tools/simulator/scenario_runner.hpp"
#include "tools/simulator/tests/mocks/mock_vm.hpp"

#include <csignal>
#include <gtest/gtest.h>
#include <sstream>

namespace tarn1::simulator
{
namespace
{

using namespace std::chrono_literals;
using ::testing::_;
using ::testing::ElementsAre;
using ::testing::InSequence;
using ::testing::NiceMock;
using ::testing::Return;
using ::testing::StrictMock;

class Scenario_runner_test : public ::testing::Test
{
  protected:
    Scenario_runner_test()
    {
        ON_CALL(vm, press(_, _)).WillByDefault(Return(true));
        ON_CALL(vm, start(_)).WillByDefault(Return(true));
    }

    NiceMock<testing::Mock_vm> vm;
    Journal journal;
    Scenario_runner sut{vm, journal, "/scenarios"};
    std::string error;
};

TEST_F(Scenario_runner_test, ComAliveRequestReachesTheVmWithItsArguments)
{
    EXPECT_CALL(vm, app_call("request", "comalive", ElementsAre("ComAlive_Telematics", "010000", "3"), _))
        .WillOnce(Return(true));

    EXPECT_TRUE(sut.execute("request comalive ComAlive_Telematics 010000 3", error));
}

TEST_F(Scenario_runner_test, ConfigurationFileIsTakenFromTheScenarioFolder)
{
    EXPECT_CALL(vm, set_config("/scenarios/data/hk.json", "statewarden_hk.json", _)).WillOnce(Return(true));
    EXPECT_CALL(vm, set_config("", "statewarden.json", _)).WillOnce(Return(true));

    EXPECT_TRUE(sut.execute("config data/hk.json statewarden_hk.json", error));
    EXPECT_TRUE(sut.execute("config none", error));
}

TEST_F(Scenario_runner_test, KeysArePressedInTheOrderGiven)
{
    InSequence order;
    EXPECT_CALL(vm, press("N", _)).WillOnce(Return(true));
    EXPECT_CALL(vm, press("P", _)).WillOnce(Return(true));
    EXPECT_CALL(vm, press("POWER", _)).WillOnce(Return(true));

    EXPECT_TRUE(sut.execute("press N P POWER # hypervisor", error));
}

TEST_F(Scenario_runner_test, ClientModesAndSignalsAreDecoded)
{
    EXPECT_CALL(vm, client_add("diag::dcm", Client_mode::late, std::chrono::milliseconds(1500)));
    EXPECT_CALL(vm, client_mode("app", Client_mode::never, _, _)).WillOnce(Return(true));
    EXPECT_CALL(vm, signal_statewarden(SIGTERM, _)).WillOnce(Return(true));
    EXPECT_CALL(vm, network_state(std::vector<unsigned char>{0}, _)).WillOnce(Return(true));
    EXPECT_CALL(vm, iam_burst(20u, ElementsAre("posix", "1", "2", "3", "find", "0x1234"), _)).WillOnce(Return(true));

    EXPECT_TRUE(sut.execute("client add diag::dcm late 1.5s", error));
    EXPECT_TRUE(sut.execute("client app never", error));
    EXPECT_TRUE(sut.execute("signal TERM", error));
    EXPECT_TRUE(sut.execute("network asleep", error));
    EXPECT_TRUE(sut.execute("iam burst 20 posix 1 2 3 find 0x1234", error));
}

TEST_F(Scenario_runner_test, ShortFormsReachTheVmAsTheirLongCommands)
{
    EXPECT_CALL(vm, app_call("request", "ecualive", ElementsAre("EcuAlive_Diagnostics"), _)).WillOnce(Return(true));
    EXPECT_CALL(vm, press("P", _)).WillOnce(Return(true));

    EXPECT_TRUE(sut.execute("e+   # the first ECU-alive instance", error));
    EXPECT_TRUE(sut.execute("k P", error));
}

TEST_F(Scenario_runner_test, RequestOfAnotherUserReachesTheVmWithItsUidAndExpandedShortForm)
{
    EXPECT_CALL(vm, app_call_as(1000u, "request", "dsa", ElementsAre("1"), _)).WillOnce(Return(true));
    EXPECT_CALL(vm, app_call_as(60001u, "release", "comalive", ElementsAre("Inst", "01"), _)).WillOnce(Return(true));

    EXPECT_TRUE(sut.execute("as 1000 d+", error));
    EXPECT_TRUE(sut.execute("as 60001 release comalive Inst 01", error));
}

TEST_F(Scenario_runner_test, AccessModeIsSetBeforeStartOnly)
{
    EXPECT_CALL(vm, set_access("audit"));

    EXPECT_TRUE(sut.execute("access audit", error));
    ON_CALL(vm, started()).WillByDefault(Return(true));
    EXPECT_FALSE(sut.execute("access off", error));
    EXPECT_EQ("access must come before start", error);
}

TEST_F(Scenario_runner_test, SetUpAfterStartIsRefused)
{
    ON_CALL(vm, started()).WillByDefault(Return(true));
    EXPECT_CALL(vm, set_poweroff_reader(_)).Times(0);

    EXPECT_FALSE(sut.execute("poweroff-reader off", error));
    EXPECT_EQ("poweroff-reader must come before start", error);
}

struct Bad_line
{
    const char* name;
    const char* line;
};

class Scenario_runner_bad_line_test : public Scenario_runner_test, public ::testing::WithParamInterface<Bad_line>
{
};

TEST_P(Scenario_runner_bad_line_test, MalformedLineIsRefusedWithoutTouchingTheVm)
{
    StrictMock<testing::Mock_vm> strict_vm;
    Scenario_runner strict_sut{strict_vm, journal, "/scenarios"};

    EXPECT_FALSE(strict_sut.execute(GetParam().line, error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Lines,
                         Scenario_runner_bad_line_test,
                         ::testing::Values(Bad_line{"UnknownCommand", "frobnicate"},
                                           Bad_line{"PressWithoutKey", "press"},
                                           Bad_line{"WaitWithoutUnit", "wait soon"},
                                           Bad_line{"NetworkNotHex", "network maybe"},
                                           Bad_line{"LateWithoutDelay", "client add app late"},
                                           Bad_line{"UnknownMode", "client add app sometimes"},
                                           Bad_line{"BurstOfNone", "iam burst 0 posix 1 2 3 find 1"},
                                           Bad_line{"BurstWithoutRequest", "iam burst 5"},
                                           Bad_line{"RawSizeTooLarge", "iam raw-size 100000"},
                                           Bad_line{"UnknownSignal", "signal HUP"},
                                           Bad_line{"ExpectWithoutText", "expect status"},
                                           Bad_line{"NegativeExpectWithoutFor", "expect no status running"},
                                           Bad_line{"ExpectBadDelay", "expect status running within soon"},
                                           Bad_line{"SkipWithoutIf", "skip log placeholder"},
                                           Bad_line{"UnterminatedQuote", "expect log \"half"},
                                           Bad_line{"AccessModeUnknown", "access sometimes"},
                                           Bad_line{"AsRoot", "as 0 d+"},
                                           Bad_line{"AsWithoutUid", "as d+"},
                                           Bad_line{"AsSomethingElse", "as 1000 press P"}),
                         [](const ::testing::TestParamInfo<Bad_line>& param) { return std::string(param.param.name); });

TEST_F(Scenario_runner_test, RunStopsAtTheFirstFailedExpectationAndNamesItsLine)
{
    journal.add("status", "running");
    std::istringstream scenario("start\n"
                                "expect status running within 10ms\n"
                                "expect status preparing within 10ms\n"
                                "press P\n");
    std::ostringstream err;
    EXPECT_CALL(vm, press(_, _)).Times(0);

    const auto outcome = sut.run(scenario, "standby.scn", err);

    EXPECT_EQ(Scenario_runner::Outcome::failed, outcome);
    EXPECT_NE(std::string::npos, err.str().find("standby.scn:3: FAILED: expect status preparing within 10ms"));
    EXPECT_NE(std::string::npos, err.str().find("newest status: running"));
}

TEST_F(Scenario_runner_test, PlaceholderAnnouncementSkipsTheRest)
{
    journal.add("log", "placeholder: state notifier not built yet");
    std::istringstream scenario("start\n"
                                "skip if log \"placeholder: state notifier\"\n"
                                "press P\n");
    std::ostringstream err;
    EXPECT_CALL(vm, press(_, _)).Times(0);

    const auto outcome = sut.run(scenario, "standby.scn", err);

    EXPECT_EQ(Scenario_runner::Outcome::skipped, outcome);
}

TEST_F(Scenario_runner_test, ScenarioWithoutPlaceholderRunsToItsEnd)
{
    journal.add("exit", "Statewarden 0");
    std::istringstream scenario("start\n"
                                "skip if log placeholder\n"
                                "press P\n"
                                "expect no exit 255 for 10ms\n"
                                "expect exit \"Statewarden 0\" within 10ms\n");
    std::ostringstream err;
    EXPECT_CALL(vm, press("P", _)).WillOnce(Return(true));

    EXPECT_EQ(Scenario_runner::Outcome::passed, sut.run(scenario, "sigterm.scn", err));
    EXPECT_EQ("", err.str());
}

/// Makes the mock VM's statewarden_ctl print output with exit status.
auto ctl_prints(int status, const std::string& output)
{
    return [status, output](const std::vector<std::string>&, int& exit_status, std::string& printed, std::string&)
    {
        exit_status = status;
        printed = output;
        return true;
    };
}

TEST_F(Scenario_runner_test, ExpectJsonAsksTheToolUntilTheValueIsThere)
{
    InSequence order;
    EXPECT_CALL(vm, run_ctl(ElementsAre("status", "--json"), _, _, _))
        .WillOnce(ctl_prints(0, R"({"state": "running", "holders": []})"))
        .WillOnce(ctl_prints(0, R"({"state": "running", "holders": [{"kind": "ecu_alive"}]})"));

    EXPECT_TRUE(sut.execute("expect json status /holders/size() 1 within 2s", error)) << error;
}

TEST_F(Scenario_runner_test, ExpectJsonFailsWithTheLastValueSeen)
{
    ON_CALL(vm, run_ctl(_, _, _, _))
        .WillByDefault(
            ctl_prints(0, R"([{"to": "prepared4sd", "clients": [{"name": "stuck", "answer": "kPrepSD"}]}])"));

    EXPECT_FALSE(sut.execute("expect json history /-1/clients[name=stuck]/answer timeout within 250ms", error));
    EXPECT_EQ(error, "/-1/clients[name=stuck]/answer of history is not timeout within 250 ms (value \"kPrepSD\")");
}

TEST_F(Scenario_runner_test, ExpectJsonNamesAToolThatDidNotAnswer)
{
    ON_CALL(vm, run_ctl(_, _, _, _)).WillByDefault(ctl_prints(3, "statewarden_ctl: Statewarden is not running\n"));

    EXPECT_FALSE(sut.execute("expect json status /state running within 100ms", error));
    EXPECT_EQ(error,
              "/state of status is not running within 100 ms (statewarden_ctl exited with 3: statewarden_ctl: "
              "Statewarden is not running)");
}

TEST_F(Scenario_runner_test, CtlLinesAndExitStatusBecomeEventsAndSvgFilesComeFromTheScenarioFolder)
{
    EXPECT_CALL(vm, run_ctl(ElementsAre("history", "--svg", "/scenarios/timeline.svg"), _, _, _))
        .WillOnce(ctl_prints(0, "timeline of 3 state change(s) written to /scenarios/timeline.svg\n"));

    ASSERT_TRUE(sut.execute("ctl history --svg timeline.svg", error)) << error;

    EXPECT_TRUE(journal.expect("ctl", "timeline of 3 state change(s)", std::chrono::steady_clock::now()));
    EXPECT_TRUE(journal.expect("ctl", "exit 0", std::chrono::steady_clock::now()));
}

TEST_F(Scenario_runner_test, ExpectJsonNeedsASubcommandPathAndValue)
{
    EXPECT_FALSE(sut.execute("expect json holders /state running", error));
    EXPECT_EQ(error, "usage: expect json status|history PATH VALUE [within DELAY]");
    EXPECT_FALSE(sut.execute("expect json status /state", error));
}

} // namespace
} // namespace tarn1::simulator
