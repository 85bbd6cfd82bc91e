#include "tools/statewarden_ctl/status_json.hpp"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace tarn1::statewarden_ctl
{
namespace
{

status::Client_row row(const std::string& name, status::Client_group group, status::Client_answer answer)
{
    status::Client_row result;
    result.name = name;
    result.group = group;
    result.answer = answer;
    result.answered_state = answer == status::Client_answer::state ? "kPrepSD" : "kOn";
    result.latency_ms = 40;
    return result;
}

// The keys and values scripts rely on, read back from the text the tool prints.
TEST(Status_json_test, StatusCarriesTheStateWordAndEachHolder)
{
    status::Holders_reply reply;
    reply.state = 3;
    reply.now_ms = 5000;
    reply.holders = {status::Holder{status::Holder_kind::ecu_alive, "EcuAlive_Diagnostics", {}, 0, 1000, 1765000000000},
                     status::Holder{status::Holder_kind::com_alive, "ComAlive_Telematics", {1, 0, 0, 0}, 3, 2000, 0},
                     status::Holder{status::Holder_kind::cwu, "CarWakeUp_Telematics", {}, 1, 3000, 0}};

    const auto sut = nlohmann::json::parse(json_line(status_json(reply)));

    EXPECT_EQ(sut.at("state"), "postrun");
    ASSERT_EQ(sut.at("holders").size(), 3U);
    const auto& ecu = sut.at("holders").at(0);
    EXPECT_EQ(ecu.at("kind"), "ecu_alive");
    EXPECT_EQ(ecu.at("instance"), "EcuAlive_Diagnostics");
    EXPECT_EQ(ecu.at("since_ms"), 1000);
    EXPECT_EQ(ecu.at("held_ms"), 4000);
    EXPECT_EQ(ecu.at("since"), "2025-12-06T05:46:40.000Z");
    EXPECT_FALSE(ecu.contains("cab_bits"));
    EXPECT_EQ(sut.at("holders").at(1).at("kind"), "com_alive");
    EXPECT_EQ(sut.at("holders").at(1).at("cab_bits"), "01000000");
    EXPECT_EQ(sut.at("holders").at(1).at("ac"), 3);
    EXPECT_EQ(sut.at("holders").at(2).at("kind"), "cwu");
    EXPECT_EQ(sut.at("holders").at(2).at("ac"), 1);
}

struct Answer_case
{
    const char* name;
    status::Client_answer answer;
    bool late;
    const char* text;
};

void PrintTo(const Answer_case& value, std::ostream* out)
{
    *out << value.name;
}

class Report_json_answer_test : public ::testing::TestWithParam<Answer_case>
{
};

TEST_P(Report_json_answer_test, AnswerIsTheStateAnsweredOrWhatBecameOfTheClient)
{
    status::Transition_report report;
    report.steps.push_back(status::Step_total{});
    auto client = row("navigation", status::Client_group::apps, GetParam().answer);
    client.late = GetParam().late;
    client.late_ms = 2500;

    const auto sut = nlohmann::json::parse(json_line(report_json((report.clients = {client}, report))));

    const auto& json_row = sut.at("clients").at(0);
    EXPECT_EQ(json_row.at("answer"), GetParam().text);
    EXPECT_EQ(json_row.at("group"), "apps");
    EXPECT_EQ(json_row.at("latency_ms"), 40);
    EXPECT_EQ(json_row.contains("late_ms"), GetParam().late);
}

INSTANTIATE_TEST_SUITE_P(
    Answers,
    Report_json_answer_test,
    ::testing::Values(Answer_case{"OnTime", status::Client_answer::state, false, "kPrepSD"},
                      Answer_case{"Error", status::Client_answer::error, false, "error"},
                      Answer_case{"Silent", status::Client_answer::timeout, false, "timeout"},
                      Answer_case{"Late", status::Client_answer::timeout, true, "timeout"},
                      Answer_case{"Disconnecting", status::Client_answer::dropped, false, "dropped"}),
    [](const ::testing::TestParamInfo<Answer_case>& param_info) { return std::string(param_info.param.name); });

TEST(Status_json_test, BytesThatAreNotUtf8DoNotBreakTheOutput)
{
    status::Transition_report report;
    report.cause = std::string("key \xff");

    const std::string line = json_line(report_json(report));

    EXPECT_TRUE(nlohmann::json::accept(line));
}

} // namespace
} // namespace tarn1::statewarden_ctl
