#include "testbed/support/temp_dir.hpp"
#include "testbed/uinput/uinput_keyboard.hpp"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

namespace tarn1::uinput
{
namespace
{

TEST(Uinput_keyboard_test, MissingDeviceLeavesAKeyboardThatRefusesKeysWithTheReason)
{
    const tarn1::testing::Temp_dir dir;
    const Uinput_keyboard sut("tarn1 test keyboard", dir.file("uinput"));
    std::string error;

    const bool pressed = sut.press(KEY_P, error);

    EXPECT_FALSE(sut.ready());
    EXPECT_EQ(sut.error(), dir.file("uinput") + ": No such file or directory");
    EXPECT_FALSE(pressed);
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST(Uinput_keyboard_test, FileThatIsNoUinputDeviceIsRefusedAtSetUp)
{
    const tarn1::testing::Temp_dir dir;
    const std::string device = dir.write_file("uinput", "");

    const Uinput_keyboard sut("tarn1 test keyboard", device);

    EXPECT_FALSE(sut.ready());
    EXPECT_EQ(sut.error().rfind("uinput key set-up: ", 0), 0u) << sut.error();
}

} // namespace
} // namespace tarn1::uinput
