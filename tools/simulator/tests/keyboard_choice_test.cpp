#include "testbed/support/temp_dir.hpp"
#include "tools/simulator/keyboard_choice.hpp"

#include <gtest/gtest.h>
#include <ostream>
#include <sys/stat.h>

namespace tarn1::simulator
{
namespace
{

using Kind = Keyboard_choice::Kind;

struct Choice_case
{
    const char* title;
    Keyboard_request request;
    bool uinput;   // a device that opens for writing
    bool host_dev; // the machine's device folder reachable
    bool seats;    // a login manager runs
    Kind expected;
    const char* reason; // the start of the reason
};

void PrintTo(const Choice_case& value, std::ostream* os)
{
    *os << value.title;
}

class Keyboard_choice_test : public ::testing::TestWithParam<Choice_case>
{
  protected:
    tarn1::testing::Temp_dir dir;
};

TEST_P(Keyboard_choice_test, KeyboardFollowsRequestAndMachine)
{
    const auto& param = GetParam();
    Keyboard_places places{dir.file("uinput"), dir.file("host_dev"), dir.file("seats")};
    if (param.uinput)
    {
        dir.write_file("uinput", "");
    }
    if (param.host_dev)
    {
        ::mkdir(places.host_dev.c_str(), 0700);
    }
    if (param.seats)
    {
        ::mkdir(places.seats.c_str(), 0700);
    }

    const Keyboard_choice sut = choose_keyboard(param.request, places);

    EXPECT_EQ(sut.kind, param.expected);
    EXPECT_EQ(sut.reason.rfind(param.reason, 0), 0u) << sut.reason;
}

INSTANTIATE_TEST_SUITE_P(
    Machines,
    Keyboard_choice_test,
    ::testing::Values(
        Choice_case{"FifoAskedForIsTakenEvenWhereUinputWorks",
                    Keyboard_request::fifo,
                    true,
                    true,
                    false,
                    Kind::fifo,
                    "asked for with --keyboard fifo"},
        Choice_case{"AutoTakesUinputWhereItWorks", Keyboard_request::automatic, true, true, false, Kind::uinput, ""},
        Choice_case{"AutoFallsBackWithoutUinput",
                    Keyboard_request::automatic,
                    false,
                    true,
                    false,
                    Kind::fifo,
                    "no real keyboard: "},
        Choice_case{"AutoFallsBackWithoutTheMachinesDeviceFolder",
                    Keyboard_request::automatic,
                    true,
                    false,
                    false,
                    Kind::fifo,
                    "no real keyboard: the machine's device folder"},
        Choice_case{"AutoKeepsARealPowerKeyAwayFromALoginManager",
                    Keyboard_request::automatic,
                    true,
                    true,
                    true,
                    Kind::fifo,
                    "a login manager runs here"},
        Choice_case{"UinputAskedForIsRefusedWithoutUinput",
                    Keyboard_request::uinput,
                    false,
                    true,
                    false,
                    Kind::none,
                    "no real keyboard: "},
        Choice_case{"UinputAskedForIsRefusedWithoutTheMachinesDeviceFolder",
                    Keyboard_request::uinput,
                    true,
                    false,
                    false,
                    Kind::none,
                    "no real keyboard: "},
        Choice_case{"UinputAskedForIsTakenDespiteALoginManagerWithAWarning",
                    Keyboard_request::uinput,
                    true,
                    true,
                    true,
                    Kind::uinput,
                    "asked for with --keyboard uinput; a login manager runs here"}),
    [](const ::testing::TestParamInfo<Choice_case>& param_info) { return param_info.param.title; });

TEST(Keyboard_request_test, OnlyTheThreeWordsAreRequests)
{
    EXPECT_EQ(parse_keyboard_request("auto"), Keyboard_request::automatic);
    EXPECT_EQ(parse_keyboard_request("fifo"), Keyboard_request::fifo);
    EXPECT_EQ(parse_keyboard_request("uinput"), Keyboard_request::uinput);
    EXPECT_FALSE(parse_keyboard_request("UINPUT"));
    EXPECT_FALSE(parse_keyboard_request(""));
}

} // namespace
} // namespace tarn1::simulator
