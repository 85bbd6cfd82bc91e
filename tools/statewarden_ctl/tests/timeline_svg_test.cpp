#include "tools/statewarden_ctl/timeline_svg.hpp"

#include <expat.h>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

namespace tarn1::statewarden_ctl
{
namespace
{

/// The picture as an XML parser reads it: well-formed or not, the states of its bands in order,
/// the answers of its client bars, and the number of marks.
struct Parsed_svg
{
    bool well_formed{false};
    std::string error;
    std::string root;
    std::vector<std::string> band_states;
    std::vector<std::string> client_answers;
    std::size_t marks{0};
};

Parsed_svg parse(const std::string& text)
{
    Parsed_svg result;
    XML_Parser parser = XML_ParserCreate("UTF-8");
    XML_SetUserData(parser, &result);
    XML_SetStartElementHandler(parser,
                               [](void* data, const XML_Char* name, const XML_Char** attributes)
                               {
                                   auto& parsed = *static_cast<Parsed_svg*>(data);
                                   if (parsed.root.empty())
                                   {
                                       parsed.root = name;
                                   }
                                   std::map<std::string, std::string> values;
                                   for (std::size_t index = 0; attributes[index] != nullptr; index += 2)
                                   {
                                       values[attributes[index]] = attributes[index + 1];
                                   }
                                   const std::string type = values["class"];
                                   if (type == "band")
                                   {
                                       parsed.band_states.push_back(values["data-state"]);
                                   }
                                   else if (type == "client")
                                   {
                                       parsed.client_answers.push_back(values["data-answer"]);
                                   }
                                   else if (type == "mark")
                                   {
                                       ++parsed.marks;
                                   }
                               });
    result.well_formed = XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) == XML_STATUS_OK;
    if (!result.well_formed)
    {
        result.error = XML_ErrorString(XML_GetErrorCode(parser));
    }
    XML_ParserFree(parser);
    return result;
}

status::Transition_report report(std::uint32_t serial,
                                 std::uint8_t from,
                                 std::uint8_t to,
                                 std::uint64_t at_ms,
                                 std::uint32_t in_from_ms,
                                 status::Cause_kind kind,
                                 const std::string& cause)
{
    status::Transition_report result;
    result.serial = serial;
    result.from = from;
    result.to = to;
    result.at_ms = at_ms;
    result.at_wall_ms = 1765000000000ULL + at_ms;
    result.time_in_from_ms = in_from_ms;
    result.cause_kind = kind;
    result.cause = cause;
    return result;
}

status::Client_row client(const std::string& name, status::Client_answer answer, std::uint32_t latency_ms)
{
    status::Client_row row;
    row.step = 1;
    row.name = name;
    row.answer = answer;
    row.answered_state = "kPrepSD";
    row.latency_ms = latency_ms;
    return row;
}

TEST(Timeline_svg_test, StandbyAndResumeDrawOneBandPerStateVisitedAndOneBarPerClient)
{
    // starting up, running, preparing, prepared for shutdown, resuming, running
    std::vector<status::Transition_report> reports{
        report(1, 0, 1, 1000, 1000, status::Cause_kind::network, "NM services found"),
        report(2, 1, 5, 61000, 60000, status::Cause_kind::key, "key P"),
        report(3, 5, 6, 63100, 2100, status::Cause_kind::round_end, "standby round ended"),
        report(4, 6, 7, 90000, 26900, status::Cause_kind::key, "key R"),
        report(5, 7, 1, 90200, 200, status::Cause_kind::round_end, "resume round ended")};
    auto& standby = reports[2];
    standby.steps = {status::Step_total{1, status::Client_group::dcm, "kPrepSD", 0, 61000, 10, 1},
                     status::Step_total{2, status::Client_group::apps, "kPrepSD", 1, 61010, 2000, 4},
                     status::Step_total{3, status::Client_group::dem, "kPrepSD", 0, 63020, 5, 0}};
    standby.clients = {client("navigation", status::Client_answer::state, 30),
                       client("<stuck & \"silent\">", status::Client_answer::timeout, 2000),
                       client("broken", status::Client_answer::error, 5),
                       client("gone", status::Client_answer::dropped, 8)};
    standby.clients[1].late = true;
    standby.clients[1].late_ms = 2600;

    const std::string svg = timeline_svg(reports, Timeline_now{1, 95000, 1765000095000ULL});
    const Parsed_svg sut = parse(svg);

    ASSERT_TRUE(sut.well_formed) << sut.error;
    EXPECT_EQ(sut.root, "svg");
    EXPECT_EQ(sut.band_states,
              (std::vector<std::string>{"startingup", "running", "preparing", "prepared4sd", "resuming", "running"}));
    // the newest round is the standby: its four clients, one bar each
    EXPECT_EQ(sut.client_answers, (std::vector<std::string>{"state", "timeout", "error", "dropped"}));
    // NM found, P and R
    EXPECT_EQ(sut.marks, 3U);
    EXPECT_NE(svg.find("&lt;stuck &amp; &quot;silent&quot;&gt;"), std::string::npos);
}

TEST(Timeline_svg_test, WithoutAnyChangeTheCurrentStateIsTheOneBand)
{
    const Parsed_svg sut = parse(timeline_svg({}, Timeline_now{0, 100, 1765000000100ULL}));

    ASSERT_TRUE(sut.well_formed) << sut.error;
    EXPECT_EQ(sut.band_states, std::vector<std::string>{"startingup"});
    EXPECT_TRUE(sut.client_answers.empty());
}

TEST(Timeline_svg_test, TextsAnXmlParserWouldRefuseAreReplaced)
{
    auto change = report(1, 5, 6, 200, 100, status::Cause_kind::round_end, "standby round ended");
    change.steps = {status::Step_total{1, status::Client_group::apps, "kPrepSD", 0, 100, 10, 1}};
    change.clients = {client(std::string("a\x01\xff"), status::Client_answer::state, 3)};
    change.clients[0].step = 0;

    const Parsed_svg sut = parse(timeline_svg({change}, Timeline_now{6, 300, 1765000000300ULL}));

    EXPECT_TRUE(sut.well_formed) << sut.error;
}

} // namespace
} // namespace tarn1::statewarden_ctl
