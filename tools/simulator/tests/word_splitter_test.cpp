#include "tools/simulator/word_splitter.hpp"

#include <gtest/gtest.h>

namespace tarn1::simulator
{
namespace
{

struct Split_case
{
    const char* name;
    std::vector<std::string> pieces;
    std::vector<std::string> expected;
};

class Word_splitter_test : public ::testing::TestWithParam<Split_case>
{
};

TEST_P(Word_splitter_test, SplitsRunTogetherWordsAsWritten)
{
    Word_splitter sut(status_words());

    std::vector<std::string> words;
    for (const auto& piece : GetParam().pieces)
    {
        for (const auto& word : sut.feed(piece))
        {
            words.push_back(word);
        }
    }

    EXPECT_EQ(GetParam().expected, words);
}

INSTANTIATE_TEST_SUITE_P(
    Status,
    Word_splitter_test,
    ::testing::Values(
        Split_case{"OneWord", {"running"}, {"running"}},
        Split_case{"TwoWordsInOneRead", {"runningpostrun"}, {"running", "postrun"}},
        Split_case{"WordCutBetweenReads", {"prepa", "red4sdresuming"}, {"prepared4sd", "resuming"}},
        Split_case{"SharedPrefixWaitsForTheRest", {"prepar", "ing"}, {"preparing"}},
        Split_case{"WholeStandbyRoad",
                   {"startinguprunning", "preparingprepared4sdresuming"},
                   {"startingup", "running", "preparing", "prepared4sd", "resuming"}},
        Split_case{"UnknownBytesPassedOn", {"xyzrunning"}, {"xyz", "running"}},
        Split_case{"NmControlledIsNotRunning", {"runnmcontrolledshuttingdown"}, {"runnmcontrolled", "shuttingdown"}}),
    [](const ::testing::TestParamInfo<Split_case>& param) { return std::string(param.param.name); });

TEST(Word_splitter_commands, CommandWordsSplitAlike)
{
    Word_splitter sut(command_words());

    const auto words = sut.feed("restartaocancelrestartm3");

    EXPECT_EQ((std::vector<std::string>{"restartao", "cancel", "restartm3"}), words);
}

} // namespace
} // namespace tarn1::simulator
