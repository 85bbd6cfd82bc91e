#include "testbed/support/temp_dir.hpp"
#include "tools/simulator/hypervisor_keyboard.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>
#include <unistd.h>

namespace tarn1::simulator
{
namespace
{

TEST(Fifo_keyboard_test, StrokeIsKeyDownSyncKeyUpSyncInWholeRecords)
{
    const tarn1::testing::Temp_dir dir;
    std::string error;
    const auto sut = Fifo_keyboard::create(dir.file("event0"), error);
    ASSERT_TRUE(sut) << error;
    const int reader = ::open(dir.file("event0").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);

    ASSERT_TRUE(sut->press(KEY_POWER, error)) << error;

    input_event events[5]{};
    const ssize_t size = ::read(reader, events, sizeof events);
    ::close(reader);
    ASSERT_EQ(size, static_cast<ssize_t>(4 * sizeof(input_event)));
    const int expected[4][3] = {
        {EV_KEY, KEY_POWER, 1}, {EV_SYN, SYN_REPORT, 0}, {EV_KEY, KEY_POWER, 0}, {EV_SYN, SYN_REPORT, 0}};
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(events[i].type, expected[i][0]) << "record " << i;
        EXPECT_EQ(events[i].code, expected[i][1]) << "record " << i;
        EXPECT_EQ(events[i].value, expected[i][2]) << "record " << i;
    }
}

TEST(Fifo_keyboard_test, FolderThatDoesNotExistIsReported)
{
    const tarn1::testing::Temp_dir dir;
    std::string error;

    const auto sut = Fifo_keyboard::create(dir.file("missing/event0"), error);

    EXPECT_FALSE(sut);
    EXPECT_EQ(error, "cannot make " + dir.file("missing/event0") + ": No such file or directory");
}

TEST(Uinput_hypervisor_keyboard_test, NoUinputDeviceLeavesNoLinkBehind)
{
    const tarn1::testing::Temp_dir dir;
    std::string error;

    const auto sut =
        Uinput_hypervisor_keyboard::create(dir.file("event0"), dir.file("uinput"), {dir.path(), dir.path()}, error);

    EXPECT_FALSE(sut);
    EXPECT_EQ(error, dir.file("uinput") + ": No such file or directory");
    EXPECT_NE(::access(dir.file("event0").c_str(), F_OK), 0);
}

} // namespace
} // namespace tarn1::simulator
