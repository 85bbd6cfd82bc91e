#include "ara/log/testing/log_capture.h"
#include "statemanager/nm/nm_data_aggregator.hpp"

#include <gtest/gtest.h>
#include <string>

namespace vela::ap::statemanager::nm
{
namespace
{

using ara::log::LogLevel;

class Nm_data_aggregator_test : public ::testing::Test
{
  protected:
    Nm_data_aggregator_test() { sut.init(4); }

    ara::log::testing::Log_capture capture;
    Nm_data_aggregator sut{config::Nm_user_data_config{}};
};

TEST_F(Nm_data_aggregator_test, InitSetsTheTopBitOfByteZeroOnly)
{
    EXPECT_EQ(sut.get_user_data(), (Bit_vector{0x80, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(sut.get_application_bits(), (Bit_vector{0x00, 0x00, 0x00, 0x00}));
}

TEST_F(Nm_data_aggregator_test, RequestsAndReleasesOfTwoApplicationsShapeTheUserData)
{
    // "A" asks for CAB bit 0 with AC 3
    sut.set_ac_bit("A", 3);
    sut.request_cab_bits("A", {0x01, 0x00, 0x00});
    EXPECT_EQ(sut.get_user_data(), (Bit_vector{0x80, 0x04, 0x00, 0x01, 0x00, 0x00}));

    // "B" asks for CAB bit 1 with AC 9
    sut.set_ac_bit("B", 9);
    sut.request_cab_bits("B", {0x02});
    EXPECT_EQ(sut.get_user_data(), (Bit_vector{0x80, 0x04, 0x01, 0x03, 0x00, 0x00}));
    EXPECT_EQ(sut.get_application_bits(), (Bit_vector{0x03, 0x00, 0x00, 0x00}));

    // "A" releases its only CAB bit and with it its AC value
    sut.release_cab_bits("A", {0x01, 0x00, 0x00});

    EXPECT_EQ(sut.get_user_data(), (Bit_vector{0x80, 0x00, 0x01, 0x02, 0x00, 0x00}));
    EXPECT_EQ(capture.count("Releasing AC bit for application A", LogLevel::kInfo), 1U);
    EXPECT_EQ(capture.count("Applying user data bits size: 4 at offset 3", LogLevel::kInfo), 3U);
}

TEST_F(Nm_data_aggregator_test, ApplicationWithCabBitsLeftKeepsItsAcValue)
{
    sut.set_ac_bit("A", 1);
    sut.request_cab_bits("A", {0x03});

    sut.release_cab_bits("A", {0x01});

    EXPECT_EQ(sut.get_user_data(), (Bit_vector{0x80, 0x01, 0x00, 0x02, 0x00, 0x00}));
    EXPECT_FALSE(capture.contains("Releasing AC bit for application A"));
}

TEST_F(Nm_data_aggregator_test, CwuBitStaysUntilTheLastHolderReleases)
{
    sut.request_cwu("A");
    sut.request_cwu("B");
    EXPECT_EQ(sut.get_user_data()[0], 0xC0);

    sut.release_cwu("A");
    EXPECT_EQ(sut.get_user_data()[0], 0xC0);
    EXPECT_FALSE(capture.contains("CWU bit cleared by appId: A"));

    sut.release_cwu("B");

    EXPECT_EQ(sut.get_user_data()[0], 0x80);
    EXPECT_EQ(capture.count("CWU bit set by appId: A", LogLevel::kInfo), 1U);
    EXPECT_EQ(capture.count("CWU bit set by appId: B", LogLevel::kInfo), 1U);
    EXPECT_EQ(capture.count("CWU bit cleared by appId: B", LogLevel::kInfo), 1U);
}

TEST_F(Nm_data_aggregator_test, CwuReleaseWithdrawsTheAcValueOfAnIdleApplication)
{
    sut.set_ac_bit("A", 2);
    sut.request_cwu("A");
    EXPECT_EQ(sut.get_user_data(), (Bit_vector{0xC0, 0x02, 0x00, 0x00, 0x00, 0x00}));

    sut.release_cwu("A");

    EXPECT_EQ(sut.get_user_data(), (Bit_vector{0x80, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(Nm_data_aggregator_test, AcValueAloneDoesNotKeepCommunicationAlive)
{
    sut.set_ac_bit("A", 5);
    sut.set_ac_bit("B", 6);

    EXPECT_FALSE(sut.is_com_alive());

    sut.request_cab_bits("B", {0x00, 0x00, 0x00, 0x00, 0x10});
    EXPECT_TRUE(sut.is_com_alive());
    // the fifth byte is booked for "B" but lies beyond the aggregation width
    EXPECT_EQ(sut.get_application_bits(), (Bit_vector{0x00, 0x00, 0x00, 0x00}));
}

TEST_F(Nm_data_aggregator_test, FourthAggregatedByteNeverReachesTheUserData)
{
    sut.request_cab_bits("A", {0x00, 0x00, 0x00, 0x01});

    EXPECT_EQ(sut.get_application_bits(), (Bit_vector{0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(sut.get_user_data(), (Bit_vector{0x80, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

struct Ac_case
{
    std::string name;
    std::uint8_t ac_value;
    Bit_vector ac_field;
};

class Nm_data_aggregator_ac_test : public ::testing::TestWithParam<Ac_case>
{
  protected:
    Nm_data_aggregator_ac_test() { sut.init(4); }

    Nm_data_aggregator sut{config::Nm_user_data_config{}};
};

TEST_P(Nm_data_aggregator_ac_test, AcValueSetsItsOneBit)
{
    sut.set_ac_bit("A", 1);

    sut.set_ac_bit("A", GetParam().ac_value);

    const Bit_vector& data = sut.get_user_data();
    EXPECT_EQ((Bit_vector{data[1], data[2]}), GetParam().ac_field);
}

INSTANTIATE_TEST_SUITE_P(Values,
                         Nm_data_aggregator_ac_test,
                         ::testing::Values(Ac_case{"Zero", 0, {0x00, 0x00}},
                                           Ac_case{"One", 1, {0x01, 0x00}},
                                           Ac_case{"Eight", 8, {0x80, 0x00}},
                                           Ac_case{"Nine", 9, {0x00, 0x01}},
                                           Ac_case{"Sixteen", 16, {0x00, 0x80}},
                                           Ac_case{"Seventeen", 17, {0x00, 0x00}},
                                           Ac_case{"Max", 255, {0x00, 0x00}}),
                         [](const ::testing::TestParamInfo<Ac_case>& param) { return param.param.name; });

TEST(Nm_data_aggregator_layout_test, CabFieldWiderThanTheAggregationWidthIsNeverWritten)
{
    ara::log::testing::Log_capture capture;
    config::Nm_user_data_config layout;
    layout.user_data_bytes = 8;
    layout.cabbits_bytes = 5;
    layout.max_cab_size_bits = 40;
    Nm_data_aggregator sut{layout};
    sut.init(4);

    sut.request_cab_bits("A", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    sut.release_cab_bits("A", {0x01});

    EXPECT_EQ(sut.get_user_data(), (Bit_vector{0x80, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(capture.count("Invalid bitvector size, below configured size: 5", LogLevel::kError), 2U);
}

TEST(Nm_data_aggregator_layout_test, CwuBitOutsideTheUserDataIsNeverWritten)
{
    ara::log::testing::Log_capture capture;
    config::Nm_user_data_config layout;
    layout.cwu_bit_position = 48;
    Nm_data_aggregator sut{layout};
    sut.init(4);

    sut.request_cwu("A");

    EXPECT_EQ(sut.get_user_data(), (Bit_vector{0x80, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(sut.is_com_alive());
    EXPECT_EQ(
        capture.count("CWU bit position 48 lies outside the user data, the CWU bit is never set", LogLevel::kError),
        1U);
}

TEST(Nm_data_aggregator_layout_test, EmptyUserDataStaysEmpty)
{
    config::Nm_user_data_config layout;
    layout.user_data_bytes = 0;
    layout.acbits_bytes = 0;
    layout.cabbits_offset = 0;
    layout.cabbits_bytes = 0;
    layout.acbits_offset = 0;
    layout.max_cab_size_bits = 0;
    Nm_data_aggregator sut{layout};
    sut.init(4);

    sut.set_ac_bit("A", 3);
    sut.request_cab_bits("A", {0x01});
    sut.request_cwu("A");

    EXPECT_TRUE(sut.get_user_data().empty());
}

TEST(Nm_data_aggregator_layout_test, ShiftedLayoutPlacesEachField)
{
    config::Nm_user_data_config layout;
    layout.user_data_bytes = 8;
    layout.cwu_bit_position = 9;
    layout.acbits_offset = 2;
    layout.acbits_bytes = 2;
    layout.cabbits_offset = 5;
    layout.cabbits_bytes = 2;
    layout.max_cab_size_bits = 16;
    Nm_data_aggregator sut{layout};
    sut.init(4);

    sut.set_ac_bit("A", 10);
    sut.request_cab_bits("A", {0xAA, 0x55, 0x0F});
    sut.request_cwu("A");

    EXPECT_EQ(sut.get_user_data(), (Bit_vector{0x80, 0x02, 0x00, 0x02, 0x00, 0xAA, 0x55, 0x00}));
}

} // namespace
} // namespace vela::ap::statemanager::nm
