#include "statemanager/nm/bit_vector.hpp"

#include <gtest/gtest.h>
#include <string>

namespace vela::ap::statemanager
{
namespace
{

struct Binary_case
{
    std::string name;
    Bit_vector a;
    Bit_vector b;
    Bit_vector or_assigned;
    Bit_vector and_assigned;
    Bit_vector anded;
    Bit_vector xored;
};

class Bit_vector_test : public ::testing::TestWithParam<Binary_case>
{
};

TEST_P(Bit_vector_test, OperatorsWorkOverTheCommonPrefix)
{
    const Binary_case& c = GetParam();

    Bit_vector or_target = c.a;
    or_target |= c.b;
    Bit_vector and_target = c.a;
    and_target &= c.b;

    EXPECT_EQ(or_target, c.or_assigned);
    EXPECT_EQ(and_target, c.and_assigned);
    EXPECT_EQ(c.a & c.b, c.anded);
    EXPECT_EQ(c.a ^ c.b, c.xored);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths,
    Bit_vector_test,
    ::testing::Values(
        Binary_case{"EqualLengths", {0x0F, 0xF0}, {0x3C, 0x3C}, {0x3F, 0xFC}, {0x0C, 0x30}, {0x0C, 0x30}, {0x33, 0xCC}},
        Binary_case{"LongerLeftKeepsItsTail",
                    {0xFF, 0xFF, 0xAA, 0x55},
                    {0x0F, 0x00},
                    {0xFF, 0xFF, 0xAA, 0x55},
                    {0x0F, 0x00, 0xAA, 0x55},
                    {0x0F, 0x00},
                    {0xF0, 0xFF}},
        Binary_case{"ShorterLeftKeepsItsSize", {0x01}, {0x02, 0xFF, 0xFF}, {0x03}, {0x00}, {0x00}, {0x03}},
        Binary_case{"FourAgainstThreeBytes",
                    {0x01, 0x02, 0x03, 0x04},
                    {0x01, 0x00, 0x01},
                    {0x01, 0x02, 0x03, 0x04},
                    {0x01, 0x00, 0x01, 0x04},
                    {0x01, 0x00, 0x01},
                    {0x00, 0x02, 0x02}},
        Binary_case{"EmptyOperand", {0x12, 0x34}, {}, {0x12, 0x34}, {0x12, 0x34}, {}, {}}),
    [](const ::testing::TestParamInfo<Binary_case>& param) { return param.param.name; });

TEST(Bit_vector_complement_test, ComplementKeepsTheSize)
{
    const Bit_vector a{0x00, 0x0F, 0xFF};

    EXPECT_EQ(~a, (Bit_vector{0xFF, 0xF0, 0x00}));
    EXPECT_TRUE((~Bit_vector{}).empty());
}

} // namespace
} // namespace vela::ap::statemanager
