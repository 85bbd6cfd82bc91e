#include "statemanager/config/local_to_string.hpp"
#include "statemanager/config/state_manager_config.hpp"

#include <cstdint>
#include <gtest/gtest.h>
#include <ostream>
#include <string>

namespace vela::ap::statemanager::config
{
namespace
{

struct Layout_case
{
    const char* label;
    Nm_user_data_config layout;
    bool accepted;
};

void PrintTo(const Layout_case& value, std::ostream* os)
{
    *os << value.label;
}

Nm_user_data_config layout(std::uint32_t user_data_bytes,
                           std::uint32_t cwu_bit_position,
                           std::uint32_t acbits_offset,
                           std::uint32_t acbits_bytes,
                           std::uint32_t cabbits_offset,
                           std::uint32_t cabbits_bytes,
                           std::uint32_t max_cab_size_bits)
{
    return Nm_user_data_config{user_data_bytes,
                               cwu_bit_position,
                               acbits_offset,
                               acbits_bytes,
                               cabbits_offset,
                               cabbits_bytes,
                               max_cab_size_bits,
                               true};
}

class State_manager_config_test : public ::testing::TestWithParam<Layout_case>
{
};

TEST_P(State_manager_config_test, UserDataLayoutIsStoredOnlyWhenConsistent)
{
    State_manager_config sut;

    const bool stored = sut.set_nm_user_data_config(GetParam().layout);

    EXPECT_EQ(stored, GetParam().accepted);
    const Nm_user_data_config expected = GetParam().accepted ? GetParam().layout : Nm_user_data_config{};
    const Nm_user_data_config actual = sut.get_nm_user_data_config();
    EXPECT_EQ(actual.user_data_bytes, expected.user_data_bytes);
    EXPECT_EQ(actual.cwu_bit_position, expected.cwu_bit_position);
    EXPECT_EQ(actual.acbits_offset, expected.acbits_offset);
    EXPECT_EQ(actual.cabbits_bytes, expected.cabbits_bytes);
    EXPECT_EQ(actual.max_cab_size_bits, expected.max_cab_size_bits);
    EXPECT_EQ(actual.cab_bits_enabled, expected.cab_bits_enabled);
}

constexpr std::uint32_t u32_max = 0xFFFFFFFFU;

INSTANTIATE_TEST_SUITE_P(
    Layouts,
    State_manager_config_test,
    ::testing::Values(Layout_case{"DefaultsExactlyAtTheirBounds", layout(6, 6, 1, 2, 3, 3, 24), true},
                      Layout_case{"SmallerCabSize", layout(8, 63, 0, 1, 2, 4, 20), true},
                      Layout_case{"AcFieldOverlapsCabField", layout(6, 6, 1, 3, 3, 3, 24), false},
                      Layout_case{"CabFieldBeyondUserData", layout(6, 6, 1, 2, 3, 4, 24), false},
                      Layout_case{"CabSizeAboveItsField", layout(6, 6, 1, 2, 3, 2, 24), false},
                      Layout_case{"NoUserDataAtAll", layout(0, 0, 0, 0, 0, 0, 0), false},
                      Layout_case{"CwuBitJustBeyondUserData", layout(6, 48, 1, 2, 3, 3, 24), false},
                      Layout_case{"CwuBitLastOfUserData", layout(6, 47, 1, 2, 3, 3, 24), true},
                      Layout_case{"AcSumWrapsAround", layout(6, 6, u32_max, 2, 3, 3, 24), false},
                      Layout_case{"CabSumWrapsAround", layout(6, 6, 0, 0, 2, u32_max, 0), false},
                      Layout_case{"CabBitCountWrapsAround", layout(u32_max, 6, 0, 0, 0, 0x20000000U, 0), false}),
    [](const ::testing::TestParamInfo<Layout_case>& param) { return std::string{param.param.label}; });

TEST(State_manager_config_lists_test, NamesBeyondTheMaximumAreRefused)
{
    State_manager_config sut;
    sut.set_max_apps_comalive(1);

    const bool first = sut.add_apps_comalive("a");
    const bool second = sut.add_apps_comalive("b");
    const bool with_zero_maximum = sut.add_apps_cwu("c");

    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_FALSE(with_zero_maximum);
    EXPECT_EQ(sut.get_apps_comalive(), std::vector<std::string>{"a"});
    EXPECT_TRUE(sut.get_apps_cwu().empty());
}

TEST(Local_to_string_test, ValuesAreWrittenInTheirLogForm)
{
    EXPECT_EQ(local_to_string<std::uint32_t>(4294967295U), "4294967295");
    EXPECT_EQ(local_to_string<bool>(true), "1");
    EXPECT_EQ(local_to_string<bool>(false), "0");
    EXPECT_EQ(local_to_string<std::string>("as is"), "as is");
    EXPECT_EQ(local_to_string<std::vector<std::uint8_t>>({'A', 'b', '7'}), "A b 7 ");
    EXPECT_EQ(local_to_string<std::vector<std::uint8_t>>({}), "");
}

} // namespace
} // namespace vela::ap::statemanager::config
