#include "testbed/uinput/uinput_keyboard.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <sys/time.h>
#include <system_error>
#include <unistd.h>

namespace tarn1::uinput
{

namespace
{

std::string system_error(const std::string& context)
{
    return context + ": " + std::error_code(errno, std::system_category()).message();
}

} // namespace

Uinput_keyboard::Uinput_keyboard(std::string name, const std::string& device)
    : m_name(std::move(name))
{
    m_fd = ::open(device.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
    {
        m_error = system_error(device);
        return;
    }
    bool capable = ::ioctl(m_fd, UI_SET_EVBIT, EV_KEY) == 0;
    for (const int key : {KEY_R, KEY_N, KEY_S, KEY_P, KEY_POWER})
    {
        capable = capable && ::ioctl(m_fd, UI_SET_KEYBIT, key) == 0;
    }
    if (!capable)
    {
        m_error = system_error("uinput key set-up");
        return;
    }
    uinput_setup setup{};
    setup.id.bustype = BUS_VIRTUAL;
    std::strncpy(setup.name, m_name.c_str(), UINPUT_MAX_NAME_SIZE - 1);
    if (::ioctl(m_fd, UI_DEV_SETUP, &setup) != 0 || ::ioctl(m_fd, UI_DEV_CREATE) != 0)
    {
        m_error = system_error("uinput device creation");
        return;
    }
    char sysname[64] = {};
    if (::ioctl(m_fd, UI_GET_SYSNAME(sizeof sysname - 1), sysname) < 0)
    {
        m_error = system_error("UI_GET_SYSNAME");
        return;
    }
    m_sysname = sysname;
}

Uinput_keyboard::~Uinput_keyboard()
{
    if (m_fd >= 0)
    {
        (void)::ioctl(m_fd, UI_DEV_DESTROY);
        (void)::close(m_fd);
    }
}

bool Uinput_keyboard::press(std::uint16_t code, std::string& error) const
{
    if (!ready())
    {
        error = "the uinput keyboard is not there: " + m_error;
        return false;
    }
    return emit(EV_KEY, code, 1, error) && emit(EV_SYN, SYN_REPORT, 0, error) && emit(EV_KEY, code, 0, error) &&
           emit(EV_SYN, SYN_REPORT, 0, error);
}

bool Uinput_keyboard::emit(std::uint16_t type, std::uint16_t code, std::int32_t value, std::string& error) const
{
    input_event event{};
    ::gettimeofday(&event.time, nullptr);
    event.type = type;
    event.code = code;
    event.value = value;
    if (::write(m_fd, &event, sizeof event) != static_cast<ssize_t>(sizeof event))
    {
        error = system_error("cannot write to the uinput keyboard");
        return false;
    }
    return true;
}

} // namespace tarn1::uinput
