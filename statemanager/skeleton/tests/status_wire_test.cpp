#include "kest/com/someip/message_header.h"
#include "statemanager/skeleton/state_management_status_interface.hpp"

#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>

namespace vela::ap::statemanager::status
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using kest::com::someip::deserialize_arguments;
using kest::com::someip::serialize_arguments;

Transition_report sample_report()
{
    Transition_report report;
    report.serial = 3;
    report.from = 5;
    report.to = 6;
    report.cause_kind = Cause_kind::round_end;
    report.cause = "standby round ended";
    report.at_ms = 123456;
    report.at_wall_ms = 1765000000000ULL;
    report.entry_us = 250;
    report.time_in_from_ms = 2100;
    report.duration_ms = 2100;
    report.steps = {Step_total{1, Client_group::dcm, "kPrepSD", 0, 120000, 12, 1},
                    Step_total{2, Client_group::apps, "kPrepSD", 1, 120020, 2000, 2}};
    Client_row late;
    late.step = 1;
    late.name = "stuck";
    late.answer = Client_answer::timeout;
    late.latency_ms = 2000;
    late.late = true;
    late.late_ms = 2400;
    late.answered_state = "kPrepSD";
    Client_row dcm;
    dcm.name = "diag::dcm";
    dcm.group = Client_group::dcm;
    dcm.answer = Client_answer::state;
    dcm.answered_state = "kPrepSD";
    dcm.code = 0;
    dcm.latency_ms = 12;
    report.clients = {dcm, late};
    return report;
}

TEST(Status_wire_test, StateValueBytesAreTheDocumentedOnes)
{
    const State_value value{1, "running", 0x0102, 0x0A0B};

    const auto payload = serialize_arguments(value);

    const Bytes expected{1, 0, 0, 0, 11, 0xEF, 0xBB, 0xBF, 'r', 'u', 'n', 'n', 'i', 'n', 'g',  0,
                         0, 0, 0, 0, 0,  0,    1,    2,    0,   0,   0,   0,   0,   0,   0x0A, 0x0B};
    EXPECT_EQ(payload.bytes(), expected);
}

TEST(Status_wire_test, ReportAndHoldersComeBackAsTheyWent)
{
    const Transition_report report = sample_report();
    Holders_reply holders;
    holders.state = 3;
    holders.holders = {Holder{Holder_kind::com_alive, "ComAlive_Telematics", {1, 0, 0, 0}, 3, 10, 20}};
    holders.nm.used = true;
    holders.nm.network_state = {0};
    holders.nm.network_state_size = 1;
    holders.nm.ecu_state = 2;
    holders.knockout_left = 2;

    std::vector<Transition_report> reports_back;
    Holders_reply holders_back;
    const bool reports_ok =
        deserialize_arguments(serialize_arguments(std::vector<Transition_report>{report}), reports_back);
    const bool holders_ok = deserialize_arguments(serialize_arguments(holders), holders_back);

    ASSERT_TRUE(reports_ok);
    ASSERT_EQ(reports_back.size(), 1U);
    const auto& back = reports_back[0];
    EXPECT_EQ(back.cause, "standby round ended");
    EXPECT_EQ(back.at_wall_ms, 1765000000000ULL);
    ASSERT_EQ(back.steps.size(), 2U);
    EXPECT_EQ(back.steps[1].total_ms, 2000U);
    ASSERT_EQ(back.clients.size(), 2U);
    EXPECT_EQ(back.clients[1].name, "stuck");
    EXPECT_TRUE(back.clients[1].late);
    EXPECT_EQ(back.clients[1].late_ms, 2400U);
    ASSERT_TRUE(holders_ok);
    ASSERT_EQ(holders_back.holders.size(), 1U);
    EXPECT_EQ(holders_back.holders[0].cab_bits, (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(holders_back.nm.ecu_state, 2);
    EXPECT_EQ(holders_back.knockout_left, 2U);
}

struct Out_of_range_case
{
    const char* name;
    std::size_t offset;
    std::uint8_t value;
};

void PrintTo(const Out_of_range_case& value, std::ostream* out)
{
    *out << value.name;
}

class Status_wire_range_test : public ::testing::TestWithParam<Out_of_range_case>
{
};

// Offsets into sample_report(): serial (4), from, to, cause kind, ...; the first row's group and
// answer follow its step index and name.
TEST_P(Status_wire_range_test, ValueOutsideItsRangeIsRefused)
{
    Bytes wire = serialize_arguments(sample_report()).bytes();
    wire.at(GetParam().offset) = GetParam().value;
    Transition_report back;

    EXPECT_FALSE(deserialize_arguments(vela::com::runtime::Serialized_payload(wire), back));
}

// serial 4 | from 1 | to 1 | cause kind 1 | cause 4+3+19+1 | at 8 | wall 8 | entry 4 | in from 4 |
// duration 4 | steps: length 4, then two steps of 8+1+(4+3+7+1)+1+8+4+4 = 41 bytes | clients:
// length 4, first row: step 4, name 4+3+9+1, group, answer, ...
constexpr std::size_t s_from = 4;
constexpr std::size_t s_cause_kind = 6;
constexpr std::size_t s_steps = 7 + 27 + 8 + 8 + 4 + 4 + 4;
constexpr std::size_t s_first_step_group = s_steps + 4 + 8;
constexpr std::size_t s_first_step_status = s_first_step_group + 1 + 15;
constexpr std::size_t s_first_row = s_steps + 4 + std::size_t{2} * 41 + 4;
constexpr std::size_t s_first_row_group = s_first_row + 4 + 17;

INSTANTIATE_TEST_SUITE_P(Fields,
                         Status_wire_range_test,
                         ::testing::Values(Out_of_range_case{"StateIdEight", s_from, 8},
                                           Out_of_range_case{"UnknownCause", s_cause_kind, 6},
                                           Out_of_range_case{"UnknownStepGroup", s_first_step_group, 3},
                                           Out_of_range_case{"UnknownStepStatus", s_first_step_status, 3},
                                           Out_of_range_case{"RowOfAStepThatIsNotThere", s_first_row + 3, 2},
                                           Out_of_range_case{"UnknownRowGroup", s_first_row_group, 3},
                                           Out_of_range_case{"UnknownAnswer", s_first_row_group + 1, 4}),
                         [](const ::testing::TestParamInfo<Out_of_range_case>& param_info)
                         { return std::string(param_info.param.name); });

// The bounds of the status board keep the whole history within one middleware frame.
TEST(Status_wire_test, FullestHistoryFitsOneFrame)
{
    Transition_report report = sample_report();
    report.cause = std::string(40, 'c');
    report.steps.assign(16, Step_total{1, Client_group::apps, std::string(16 + 3, 's'), 1, 1, 1, 1});
    Client_row row;
    row.name = std::string(48 + 3, 'x');
    row.answered_state = std::string(16 + 3, 'y');
    report.clients.assign(128, row);
    const std::vector<Transition_report> history(64, report);

    const auto payload = serialize_arguments(history);

    EXPECT_LT(payload.size(), kest::com::someip::kMax_payload);
}

} // namespace
} // namespace vela::ap::statemanager::status
