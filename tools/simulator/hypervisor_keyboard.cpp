#include "tools/simulator/hypervisor_keyboard.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <system_error>
#include <unistd.h>

namespace tarn1::simulator
{

namespace
{

using namespace std::chrono_literals;

// udev on the machine may take a moment to make the node and set its rights.
constexpr auto s_node_timeout = 3s;

std::string system_error(const std::string& context)
{
    return context + ": " + std::error_code(errno, std::system_category()).message();
}

} // namespace

std::unique_ptr<Fifo_keyboard> Fifo_keyboard::create(const std::string& path, std::string& error)
{
    if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST)
    {
        error = system_error("cannot make " + path);
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
    {
        error = system_error("cannot open " + path);
        return nullptr;
    }
    return std::unique_ptr<Fifo_keyboard>(new Fifo_keyboard(path, fd));
}

Fifo_keyboard::Fifo_keyboard(std::string path, int fd)
    : m_path(std::move(path))
    , m_fd(fd)
{
}

Fifo_keyboard::~Fifo_keyboard()
{
    (void)::close(m_fd);
}

bool Fifo_keyboard::press(std::uint16_t code, std::string& error)
{
    const std::pair<std::uint16_t, std::int32_t> stroke[] = {{code, 1}, {SYN_REPORT, 0}, {code, 0}, {SYN_REPORT, 0}};
    bool key = true;
    for (const auto& [event_code, value] : stroke)
    {
        input_event event{};
        ::gettimeofday(&event.time, nullptr);
        event.type = key ? EV_KEY : EV_SYN;
        event.code = event_code;
        event.value = value;
        key = !key;
        if (::write(m_fd, &event, sizeof event) != static_cast<ssize_t>(sizeof event))
        {
            error = system_error("cannot write the key event");
            return false;
        }
    }
    return true;
}

std::unique_ptr<Uinput_hypervisor_keyboard> Uinput_hypervisor_keyboard::create(const std::string& path,
                                                                               const std::string& uinput_device,
                                                                               const uinput::Device_places& places,
                                                                               std::string& error)
{
    // The pid keeps the names of simultaneous simulations apart when the node is found by name.
    auto keyboard = std::make_unique<uinput::Uinput_keyboard>(
        "tarn1 simulated hypervisor keyboard " + std::to_string(::getpid()), uinput_device);
    if (!keyboard->ready())
    {
        error = keyboard->error();
        return nullptr;
    }
    const std::string node = uinput::find_event_node(places, keyboard->sysname(), keyboard->name(), s_node_timeout);
    if (node.empty())
    {
        error =
            "no readable event node for the uinput keyboard " + keyboard->sysname() + " under " + places.dev + "/input";
        return nullptr;
    }
    if ((::unlink(path.c_str()) != 0 && errno != ENOENT) || ::symlink(node.c_str(), path.c_str()) != 0)
    {
        error = system_error("cannot link " + path + " to " + node);
        return nullptr;
    }
    return std::unique_ptr<Uinput_hypervisor_keyboard>(new Uinput_hypervisor_keyboard(std::move(keyboard), path, node));
}

Uinput_hypervisor_keyboard::Uinput_hypervisor_keyboard(std::unique_ptr<uinput::Uinput_keyboard> keyboard,
                                                       std::string path,
                                                       std::string node)
    : m_keyboard(std::move(keyboard))
    , m_path(std::move(path))
    , m_node(std::move(node))
{
}

} // namespace tarn1::simulator
