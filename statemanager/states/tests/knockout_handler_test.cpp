#include "statemanager/states/knockout_handler.hpp"

#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace vela::ap::statemanager::states
{
namespace
{

/// A knock-out timer after a number of cycles, and what it must say then.
struct Countdown_case
{
    const char* label;
    unsigned int initial;
    unsigned int cycles;
    unsigned int expected_value;
    bool expected_expired;
};

void PrintTo(const Countdown_case& value, std::ostream* os)
{
    *os << value.label;
}

class Knockout_handler_test : public ::testing::TestWithParam<Countdown_case>
{
};

TEST_P(Knockout_handler_test, CountsCyclesDownToZeroAndStaysThere)
{
    Knockout_handler sut(GetParam().initial);

    for (unsigned int cycle = 0; cycle < GetParam().cycles; ++cycle)
    {
        sut.update_knockout_timer();
    }

    EXPECT_EQ(sut.get_knockout_timer_value(), GetParam().expected_value);
    EXPECT_EQ(sut.is_knockout_timer_expired(), GetParam().expected_expired);
}

INSTANTIATE_TEST_SUITE_P(Countdown,
                         Knockout_handler_test,
                         ::testing::Values(Countdown_case{"ZeroIsExpiredAtOnce", 0, 0, 0, true},
                                           Countdown_case{"ZeroStaysZero", 0, 3, 0, true},
                                           Countdown_case{"NotExpiredBeforeLastCycle", 3, 2, 1, false},
                                           Countdown_case{"ExpiresOnLastCycle", 3, 3, 0, true},
                                           Countdown_case{"NoWrapAfterExpiry", 3, 10, 0, true},
                                           Countdown_case{"LargestValue", 0xFFFFFFFFU, 1, 0xFFFFFFFEU, false}),
                         [](const ::testing::TestParamInfo<Countdown_case>& param)
                         { return std::string{param.param.label}; });

TEST(Knockout_handler_reset_test, ResetAfterExpiryRestoresInitialValue)
{
    Knockout_handler sut(2);
    sut.update_knockout_timer();
    sut.update_knockout_timer();

    sut.reset_knockout_timer();

    EXPECT_EQ(sut.get_knockout_timer_value(), 2U);
    EXPECT_FALSE(sut.is_knockout_timer_expired());
}

} // namespace
} // namespace vela::ap::statemanager::states
