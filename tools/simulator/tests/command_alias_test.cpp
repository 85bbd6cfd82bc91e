#include "tools/simulator/command_alias.hpp"
#include "tools/simulator/scenario_line.hpp"

#include <gtest/gtest.h>
#include <ostream>

namespace tarn1::simulator
{
namespace
{

struct Alias_case
{
    const char* title;
    const char* line;
    const char* expected;
};

void PrintTo(const Alias_case& value, std::ostream* os)
{
    *os << value.title;
}

class Command_alias_test : public ::testing::TestWithParam<Alias_case>
{
};

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const auto& word : words)
    {
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

TEST_P(Command_alias_test, ShortFormBecomesTheLongCommand)
{
    const auto words = split_line(GetParam().line);
    ASSERT_TRUE(words);

    EXPECT_EQ(joined(expand_alias(*words)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines,
    Command_alias_test,
    ::testing::Values(
        Alias_case{"EcuAliveTakesTheFirstInstance", "e+", "request ecualive EcuAlive_Diagnostics"},
        Alias_case{"GivenInstanceWins", "e- EcuAlive_Update", "release ecualive EcuAlive_Update"},
        Alias_case{"ComAliveFillsOnlyWhatIsLeftOut",
                   "c+ ComAlive_Navigation 020000",
                   "request comalive ComAlive_Navigation 020000 3"},
        Alias_case{"ComAliveReleaseHasNoAcValue", "c-", "release comalive ComAlive_Telematics 010000"},
        Alias_case{"CarWakeUp", "w+", "request cwu CarWakeUp_Telematics 1"},
        Alias_case{"DiagnosticRestart", "d+ 5", "request dsa 5"},
        Alias_case{"ClientKeepsItsMode", "cl+ navigation late 2s", "client add navigation late 2s"},
        Alias_case{"PressTakesEveryKey", "k P R", "press P R"},
        Alias_case{"SignalDefaultsToTerm", "sig", "signal TERM"},
        Alias_case{"ExtraArgumentsPassThroughForTheCommandToRefuse",
                   "e+ EcuAlive_Update surplus",
                   "request ecualive EcuAlive_Update surplus"},
        Alias_case{"LongCommandsStayAsTheyAre", "request ecualive EcuAlive_Update", "request ecualive EcuAlive_Update"},
        Alias_case{"ShortFormOnlyCountsAtTheHead", "echo e+", "echo e+"}),
    [](const ::testing::TestParamInfo<Alias_case>& param_info) { return param_info.param.title; });

} // namespace
} // namespace tarn1::simulator
