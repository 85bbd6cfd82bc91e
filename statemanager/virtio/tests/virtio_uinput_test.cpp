// A real evdev device, made through uinput, read by Virtio_interface without any stand-in.
// Runs only where /dev/uinput can be opened for writing.

#include "statemanager/virtio/virtio_interface.hpp"

#include "ara/log/testing/log_capture.h"
#include "tests/support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/uinput.h>
#include <string>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace vela::ap::statemanager::virtio
{
namespace
{

using namespace std::chrono_literals;

/// A uinput keyboard with the keys the daemon knows; removed on destruction.
class Uinput_keyboard final
{
public:
    Uinput_keyboard()
    {
        m_fd = ::open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
        {
            m_error = std::string{"/dev/uinput: "} + std::strerror(errno);
            return;
        }
        ::ioctl(m_fd, UI_SET_EVBIT, EV_KEY);
        for (const int key : {KEY_R, KEY_N, KEY_S, KEY_P, KEY_POWER})
        {
            ::ioctl(m_fd, UI_SET_KEYBIT, key);
        }
        uinput_setup setup{};
        setup.id.bustype = BUS_VIRTUAL;
        std::strncpy(setup.name, "tarn1 test keyboard", UINPUT_MAX_NAME_SIZE - 1);
        if (::ioctl(m_fd, UI_DEV_SETUP, &setup) != 0 || ::ioctl(m_fd, UI_DEV_CREATE) != 0)
        {
            m_error = std::string{"uinput device creation: "} + std::strerror(errno);
            return;
        }
        char sysname[64] = {};
        if (::ioctl(m_fd, UI_GET_SYSNAME(sizeof sysname), sysname) < 0)
        {
            m_error = std::string{"UI_GET_SYSNAME: "} + std::strerror(errno);
            return;
        }
        m_node = find_node(std::string{"/sys/devices/virtual/input/"} + sysname);
        if (m_node.empty())
        {
            m_error = "no event node for the uinput device";
        }
    }

    ~Uinput_keyboard()
    {
        if (m_fd >= 0)
        {
            ::ioctl(m_fd, UI_DEV_DESTROY);
            ::close(m_fd);
        }
    }

    Uinput_keyboard(const Uinput_keyboard&) = delete;
    Uinput_keyboard& operator=(const Uinput_keyboard&) = delete;

    const std::string& error() const { return m_error; }
    const std::string& node() const { return m_node; }

    void press(int key) const
    {
        emit(EV_KEY, key, 1);
        emit(EV_SYN, SYN_REPORT, 0);
        emit(EV_KEY, key, 0);
        emit(EV_SYN, SYN_REPORT, 0);
    }

private:
    void emit(int type, int code, int value) const
    {
        input_event event{};
        event.type = static_cast<__u16>(type);
        event.code = static_cast<__u16>(code);
        event.value = value;
        (void)::write(m_fd, &event, sizeof event);
    }

    static std::string find_node(const std::string& sys_folder)
    {
        // udev may take a moment to make the node.
        for (int attempt = 0; attempt < 100; ++attempt)
        {
            if (DIR* const folder = ::opendir(sys_folder.c_str()))
            {
                std::string node;
                while (const dirent* const entry = ::readdir(folder))
                {
                    if (std::strncmp(entry->d_name, "event", 5) == 0)
                    {
                        node = std::string{"/dev/input/"} + entry->d_name;
                    }
                }
                ::closedir(folder);
                if (!node.empty() && ::access(node.c_str(), R_OK) == 0)
                {
                    return node;
                }
            }
            std::this_thread::sleep_for(20ms);
        }
        return {};
    }

    int m_fd{-1};
    std::string m_error;
    std::string m_node;
};

TEST(Virtio_interface_uinput_test, KeyPressOnARealKeyboardBecomesItsCommand)
{
    if (::access("/dev/uinput", W_OK) != 0)
    {
        GTEST_SKIP() << "no writable /dev/uinput here, so no real input device can be made";
    }
    const Uinput_keyboard keyboard;
    if (!keyboard.error().empty())
    {
        GTEST_SKIP() << "uinput keyboard unavailable: " << keyboard.error();
    }
    ara::log::testing::Log_capture capture;
    const tarn1::testing::Temp_dir dir;
    // only this keyboard, not every device of the machine
    ASSERT_EQ(::symlink(keyboard.node().c_str(), dir.file("event0").c_str()), 0);
    Virtio_interface sut;
    ASSERT_TRUE(sut.init(dir.path()));

    keyboard.press(KEY_P);
    Virtio_command command = Virtio_command::Non;
    for (int wait = 0; wait < 20 && command == Virtio_command::Non; ++wait)
    {
        command = sut.get_command(500);
    }

    EXPECT_EQ(command, Virtio_command::PrepareSD);
}

} // namespace
} // namespace vela::ap::statemanager::virtio
