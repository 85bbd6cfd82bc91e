// A real evdev device, made through uinput, read by Virtio_interface without any stand-in.
// Runs only where /dev/uinput can be opened for writing.

#include "ara/log/testing/log_capture.h"
#include "statemanager/virtio/virtio_interface.hpp"
#include "testbed/support/temp_dir.hpp"
#include "testbed/uinput/event_node.hpp"
#include "testbed/uinput/uinput_keyboard.hpp"

#include <chrono>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <string>
#include <unistd.h>

namespace vela::ap::statemanager::virtio
{
namespace
{

using namespace std::chrono_literals;

TEST(Virtio_interface_uinput_test, KeyPressOnARealKeyboardBecomesItsCommand)
{
    if (::access("/dev/uinput", W_OK) != 0)
    {
        GTEST_SKIP() << "no writable /dev/uinput here, so no real input device can be made";
    }
    const tarn1::uinput::Uinput_keyboard keyboard("tarn1 test keyboard");
    if (!keyboard.ready())
    {
        GTEST_SKIP() << "uinput keyboard unavailable: " << keyboard.error();
    }
    const std::string node = tarn1::uinput::find_event_node({}, keyboard.sysname(), keyboard.name(), 2s);
    ASSERT_FALSE(node.empty()) << "no event node for the uinput keyboard " << keyboard.sysname();
    ara::log::testing::Log_capture capture;
    const tarn1::testing::Temp_dir dir;
    // only this keyboard, not every device of the machine
    ASSERT_EQ(::symlink(node.c_str(), dir.file("event0").c_str()), 0);
    Virtio_interface sut;
    ASSERT_TRUE(sut.init(dir.path()));

    std::string error;
    ASSERT_TRUE(keyboard.press(KEY_P, error)) << error;
    Virtio_command command = Virtio_command::Non;
    for (int wait = 0; wait < 20 && command == Virtio_command::Non; ++wait)
    {
        command = sut.get_command(500);
    }

    EXPECT_EQ(command, Virtio_command::PrepareSD);
}

} // namespace
} // namespace vela::ap::statemanager::virtio
