#include "statemanager/virtio/virtio_interface.hpp"

#include "ara/log/logging.h"
#include "tarn1/os_error/error_text.hpp"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vela::ap::statemanager::virtio
{

namespace
{

constexpr std::int32_t s_pressed = 1;
constexpr std::uint64_t s_ev_key_mask = std::uint64_t{1} << EV_KEY;

int bounded(unsigned int timeout_ms)
{
    return static_cast<int>(std::min<unsigned int>(timeout_ms, INT_MAX));
}

} // namespace

Virtio_interface::Virtio_interface()
{
    m_devices.fill(-1);
}

Virtio_interface::~Virtio_interface()
{
    release();
}

void Virtio_interface::release()
{
    for (int& fd : m_devices)
    {
        if (fd != -1 && ::close(fd) != 0)
        {
            const int error = errno;
            ara::log::LogError() << "Failed to close event file descriptor! " << tarn1::os_error::error_text(error);
        }
        fd = -1;
    }
    m_device_count = 0;
    if (m_epoll_fd != -1 && ::close(m_epoll_fd) != 0)
    {
        const int error = errno;
        ara::log::LogError() << "Failed to close epoll file descriptor! " << tarn1::os_error::error_text(error);
    }
    m_epoll_fd = -1;
}

bool Virtio_interface::init(std::string directory)
{
    if (m_initialized)
    {
        ara::log::LogVerbose() << "VirtIO interface already initialized";
        return false;
    }
    ara::log::LogVerbose() << "Initialization of VirtIO";
    // What an earlier, failed attempt left open is not leaked.
    release();

    DIR* const folder = ::opendir(directory.c_str());
    if (folder == nullptr)
    {
        ara::log::LogError() << "Virtio device input folder \"" << directory << "\"not found";
        return false;
    }

    m_epoll_fd = ::epoll_create(static_cast<int>(s_max_devices));
    if (m_epoll_fd < 0)
    {
        const int error = errno;
        m_epoll_fd = -1;
        ara::log::LogError() << "Failed to create epoll file descriptor! " << tarn1::os_error::error_text(error);
        ::closedir(folder);
        return false;
    }

    ara::log::LogInfo() << "Adding devices from directory: " << directory;
    bool success = true;
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the directory stream is this call's own.
    while (const dirent* const entry = ::readdir(folder))
    {
        if (std::strncmp(entry->d_name, "event", 5) != 0)
        {
            continue;
        }
        const std::string path = directory + "/" + entry->d_name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
        {
            ara::log::LogError() << "Can't open VirtIO input device: " << path;
            success = false;
            continue;
        }
        ara::log::LogVerbose() << "Open VirtIO input device: " << path;

        // The hypervisor's device may not report EV_MSC, so EV_KEY alone qualifies it.
        if ((supported_event_types(fd) & s_ev_key_mask) == 0)
        {
            ::close(fd);
            continue;
        }

        const auto free_slot = std::find(m_devices.begin(), m_devices.end(), -1);
        if (free_slot == m_devices.end())
        {
            ara::log::LogError() << "Too many VirtIO input devices, skipping: " << path;
            ::close(fd);
            continue;
        }

        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        if (::epoll_ctl(m_epoll_fd, EPOLL_CTL_ADD, fd, &event) != 0)
        {
            ara::log::LogError() << "Can't add input device to epoll! epoll_ctl failed!";
            ::close(fd);
            success = false;
            continue;
        }
        *free_slot = fd;
        ++m_device_count;
    }

    if (m_device_count == 0)
    {
        ara::log::LogError() << "No key event input device found that supports both EV_KEY and EV_MSC";
        ::closedir(folder);
        return false;
    }
    ::closedir(folder);
    m_initialized = success;
    return success;
}

Virtio_command Virtio_interface::get_command(unsigned int timeout_ms)
{
    if (m_device_count > 0)
    {
        read_input_events(timeout_ms);
    }
    else
    {
        // Nothing can arrive, but the main loop is still paced by this wait.
        (void)::poll(nullptr, 0, bounded(timeout_ms));
    }
    return m_commands.front();
}

void Virtio_interface::read_input_events(unsigned int timeout_ms)
{
    std::array<epoll_event, s_max_devices> events{};
    ara::log::LogDebug() << "Epoll_wait start";
    const int ready = ::epoll_wait(m_epoll_fd, events.data(), static_cast<int>(events.size()), bounded(timeout_ms));
    ara::log::LogDebug() << "Epoll_wait returned: " << static_cast<std::int32_t>(ready);
    if (ready <= 0)
    {
        // A timeout, or a signal that interrupted the wait: the loop goes on either way.
        return;
    }
    for (int index = 0; index < ready; ++index)
    {
        const epoll_event& event = events[static_cast<std::size_t>(index)];
        const bool hung_up = (event.events & (EPOLLERR | EPOLLHUP)) != 0;
        if ((event.events & EPOLLIN) != 0)
        {
            // A device removed with events unread stays readable and hung up for good while every
            // read fails: unless it is closed, each wait returns at once and the loop spins.
            int read_error = 0;
            if (!read_event(event.data.fd, read_error) && (hung_up || read_error == ENODEV))
            {
                close_device(event.data.fd);
            }
        }
        else if (hung_up)
        {
            close_device(event.data.fd);
        }
    }
}

bool Virtio_interface::read_event(int fd, int& read_error)
{
    input_event event{};
    const ssize_t got = ::read(fd, &event, sizeof event);
    read_error = got < 0 ? errno : 0;
    ara::log::LogDebug() << "Readed bytes: " << static_cast<std::int64_t>(got);
    // A short record is no event: its fields would be made up of whatever is in the buffer.
    if (got != static_cast<ssize_t>(sizeof event))
    {
        ara::log::LogError() << "Reading virtual input event failed";
        return false;
    }
    decode(event.type, event.code, event.value);
    return true;
}

void Virtio_interface::decode(std::uint16_t type, std::uint16_t code, std::int32_t value)
{
    if ((type == EV_KEY || type == EV_PWR) && code == KEY_POWER && value == s_pressed)
    {
        m_commands.power_key();
    }
    else if (type == EV_KEY && code == KEY_N && value == s_pressed)
    {
        add_command(Virtio_command::NmControlled);
    }
    else if (type == EV_KEY && code == KEY_S && value == s_pressed)
    {
        add_command(Virtio_command::NMControlledPrepareSD);
    }
    else if (type == EV_KEY && code == KEY_P && value == s_pressed)
    {
        add_command(Virtio_command::PrepareSD);
    }
    else if (type == EV_KEY && code == KEY_R && value == s_pressed)
    {
        add_command(Virtio_command::Run);
    }
    else
    {
        ara::log::LogDebug() << "Unsupported command type received! Type[" << type << "] code[" << code << "] value["
                             << value << "]";
    }
}

void Virtio_interface::add_command(Virtio_command command)
{
    m_commands.add_command(command);
}

void Virtio_interface::command_consumed()
{
    m_commands.consume();
}

void Virtio_interface::close_device(int fd)
{
    if (::close(fd) != 0)
    {
        const int error = errno;
        ara::log::LogError() << "Failed to close event file descriptor! " << tarn1::os_error::error_text(error);
    }
    const auto slot = std::find(m_devices.begin(), m_devices.end(), fd);
    if (slot != m_devices.end())
    {
        *slot = -1;
        --m_device_count;
    }
}

std::uint64_t Virtio_interface::supported_event_types(int fd)
{
    unsigned char bitmap[8] = {};
    if (::ioctl(fd, EVIOCGBIT(0, sizeof bitmap), bitmap) < 0)
    {
        return 0;
    }
    std::uint64_t types = 0;
    for (std::size_t index = 0; index < sizeof bitmap; ++index)
    {
        types |= static_cast<std::uint64_t>(bitmap[index]) << (8 * index);
    }
    return types;
}

} // namespace vela::ap::statemanager::virtio
