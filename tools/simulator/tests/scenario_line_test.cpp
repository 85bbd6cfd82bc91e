#include "tools/simulator/scenario_line.hpp"

#include <gtest/gtest.h>

namespace tarn1::simulator
{
namespace
{

using namespace std::chrono_literals;

struct Line_case
{
    const char* name;
    const char* line;
    std::vector<std::string> words;
};

class Scenario_line_test : public ::testing::TestWithParam<Line_case>
{
};

TEST_P(Scenario_line_test, SplitsIntoWords)
{
    const auto words = split_line(GetParam().line);

    ASSERT_TRUE(words.has_value());
    EXPECT_EQ(GetParam().words, *words);
}

INSTANTIATE_TEST_SUITE_P(
    Lines,
    Scenario_line_test,
    ::testing::Values(Line_case{"Blank", "   ", {}},
                      Line_case{"Comment", "# hypervisor presses P", {}},
                      Line_case{"TrailingComment", "press P # standby", {"press", "P"}},
                      Line_case{"QuotedText",
                                "expect log \"Failed to initialize Statewarden!\" within 2s",
                                {"expect", "log", "Failed to initialize Statewarden!", "within", "2s"}},
                      Line_case{"HashInsideQuotes", "echo \"a # b\"", {"echo", "a # b"}},
                      Line_case{"EscapedQuote", "echo \"say \\\"hi\\\"\"", {"echo", "say \"hi\""}},
                      Line_case{"EmptyQuotes", "echo \"\"", {"echo", ""}},
                      Line_case{"Tabs", "press\tN\t S", {"press", "N", "S"}}),
    [](const ::testing::TestParamInfo<Line_case>& param) { return std::string(param.param.name); });

TEST(Scenario_line, UnterminatedQuoteIsRefused)
{
    EXPECT_FALSE(split_line("expect log \"half").has_value());
}

struct Duration_case
{
    const char* text;
    std::optional<std::chrono::milliseconds> expected;
};

class Duration_test : public ::testing::TestWithParam<Duration_case>
{
};

TEST_P(Duration_test, ParsesOrRefuses)
{
    EXPECT_EQ(GetParam().expected, parse_duration(GetParam().text));
}

INSTANTIATE_TEST_SUITE_P(Durations,
                         Duration_test,
                         ::testing::Values(Duration_case{"250ms", 250ms},
                                           Duration_case{"2s", 2000ms},
                                           Duration_case{"1.5s", 1500ms},
                                           Duration_case{"3", 3000ms},
                                           Duration_case{"", std::nullopt},
                                           Duration_case{"s", std::nullopt},
                                           Duration_case{"-1s", std::nullopt},
                                           Duration_case{"2h", std::nullopt},
                                           Duration_case{"99999999s", std::nullopt}));

TEST(Scenario_hex, RoundTripsAndRefusesOddOrForeignDigits)
{
    EXPECT_EQ("01000000", to_hex(*parse_hex("0x01000000")));
    EXPECT_EQ("ff", to_hex(*parse_hex("FF")));
    EXPECT_FALSE(parse_hex("123").has_value());
    EXPECT_FALSE(parse_hex("zz").has_value());
}

} // namespace
} // namespace tarn1::simulator
