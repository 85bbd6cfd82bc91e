#include "tools/simulator/json_path.hpp"

#include <gtest/gtest.h>
#include <ostream>

namespace tarn1::simulator
{
namespace
{

const nlohmann::json s_history = nlohmann::json::parse(R"([
    {"from": "running", "to": "preparing", "clients": [], "user_data": "800000"},
    {"from": "preparing", "to": "prepared4sd", "duration_ms": 2010,
     "clients": [{"name": "good", "answer": "kPrepSD", "latency_ms": 12},
                 {"name": "stuck", "answer": "timeout", "latency_ms": 2000, "late_ms": 2400}]}
])");

struct Path_case
{
    const char* name;
    const char* path;
    const char* expected;
    bool matches;
};

void PrintTo(const Path_case& value, std::ostream* out)
{
    *out << value.name;
}

class Json_path_test : public ::testing::TestWithParam<Path_case>
{
};

TEST_P(Json_path_test, PathLeadsToTheValueThatIsCompared)
{
    const auto value = json_at(s_history, GetParam().path);

    EXPECT_EQ(value.has_value() && json_matches(*value, GetParam().expected), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Paths,
    Json_path_test,
    ::testing::Values(Path_case{"Size", "/size()", "2", true},
                      Path_case{"SizeOfAnInnerArray", "/1/clients/size()", "2", true},
                      Path_case{"LastElement", "/-1/to", "prepared4sd", true},
                      Path_case{"FirstElement", "/0/from", "running", true},
                      Path_case{"QuotedText", "/0/from", "\"running\"", true},
                      Path_case{"WrongText", "/0/from", "preparing", false},
                      Path_case{"DigitsComparedAsText", "/0/user_data", "800000", true},
                      Path_case{"NumberComparedAsJson", "/-1/duration_ms", "2010", true},
                      Path_case{"Selected", "/-1/clients[name=stuck]/answer", "timeout", true},
                      Path_case{"SelectedNumberAtLeast", "/-1/clients[name=stuck]/latency_ms", ">=2000", true},
                      Path_case{"SelectedNumberBelow", "/-1/clients[name=good]/latency_ms", "<100", true},
                      Path_case{"NumberTooSmall", "/-1/duration_ms", ">2010", false},
                      Path_case{"NotEqual", "/-1/clients[name=good]/answer", "!=timeout", true},
                      Path_case{"MemberThere", "/-1/clients[name=stuck]/late_ms", "2400", true},
                      Path_case{"NobodySelected", "/-1/clients[name=nobody]/answer", "timeout", false},
                      Path_case{"IndexBeyondTheEnd", "/5/to", "running", false},
                      Path_case{"NegativeBeyondTheStart", "/-3/to", "running", false},
                      Path_case{"NumberComparedWithText", "/0/to", ">1", false},
                      Path_case{"UnclosedSelector", "/-1/clients[name=good/answer", "kPrepSD", false}),
    [](const ::testing::TestParamInfo<Path_case>& param_info) { return std::string(param_info.param.name); });

TEST(Json_path_test, EmptyPathIsTheWholeDocument)
{
    EXPECT_EQ(json_at(s_history, ""), s_history);
}

} // namespace
} // namespace tarn1::simulator
