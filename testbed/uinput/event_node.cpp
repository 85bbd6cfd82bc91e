#include "testbed/uinput/event_node.hpp"

#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarn1::uinput
{

namespace
{

using namespace std::chrono_literals;

constexpr auto s_poll_interval = 20ms;

std::vector<std::string> event_entries(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* const directory = ::opendir(folder.c_str());
    if (directory == nullptr)
    {
        return names;
    }
    // NOLINTNEXTLINE(concurrency-mt-unsafe): the directory stream is this call's own.
    while (const dirent* const entry = ::readdir(directory))
    {
        if (std::strncmp(entry->d_name, "event", 5) == 0)
        {
            names.emplace_back(entry->d_name);
        }
    }
    ::closedir(directory);
    return names;
}

bool readable(const std::string& path)
{
    return ::access(path.c_str(), R_OK) == 0;
}

std::string node_once(const Device_places& places,
                      const std::string& sysname,
                      const std::string& name,
                      const Name_reader& read_name)
{
    const std::string input = places.dev + "/input/";
    if (!sysname.empty())
    {
        for (const auto& entry : event_entries(places.sys + "/devices/virtual/input/" + sysname))
        {
            if (readable(input + entry))
            {
                return input + entry;
            }
        }
    }
    if (!name.empty())
    {
        for (const auto& entry : event_entries(input))
        {
            if (readable(input + entry) && read_name(input + entry) == name)
            {
                return input + entry;
            }
        }
    }
    return {};
}

} // namespace

std::string evdev_name(const std::string& node)
{
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        return {};
    }
    char name[256] = {};
    const bool named = ::ioctl(fd, EVIOCGNAME(sizeof name - 1), name) >= 0;
    ::close(fd);
    return named ? std::string(name) : std::string();
}

std::string find_event_node(const Device_places& places,
                            const std::string& sysname,
                            const std::string& name,
                            std::chrono::milliseconds timeout,
                            const Name_reader& read_name)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Neither sysfs nor a bound device folder tells when udev has finished a node, so look again
    // at short intervals until the deadline.
    while (true)
    {
        std::string node = node_once(places, sysname, name, read_name);
        if (!node.empty() || std::chrono::steady_clock::now() >= deadline)
        {
            return node;
        }
        std::this_thread::sleep_for(s_poll_interval);
    }
}

} // namespace tarn1::uinput
