#include "kest/psp/startup/report_ready.h"

#include "ara/log/logging.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kest::psp::startup
{
namespace
{

ara::log::Logger& psp_logger()
{
    return ara::log::CreateLogger("PSP", "start-up supervision stand-in");
}

/// Sends "READY=1" to the notification socket systemd named; an empty text when done, else
/// what failed.
std::string notify_systemd(const std::string& socket_name)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socket_name.size() >= sizeof(address.sun_path) || (socket_name[0] != '/' && socket_name[0] != '@'))
    {
        return "unusable NOTIFY_SOCKET " + socket_name;
    }
    std::memcpy(address.sun_path, socket_name.data(), socket_name.size());
    if (socket_name[0] == '@')
    {
        // an abstract socket name
        address.sun_path[0] = '\0';
    }
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket_name.size());

    const int descriptor = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
    {
        return std::string("socket: ") + std::strerror(errno);
    }
    static constexpr char message[] = "READY=1";
    const auto sent =
        ::sendto(descriptor,
                 message,
                 sizeof(message) - 1,
                 MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address), // NOLINT(cppcoreguidelines-pro-type-reinterpret-cast)
                 length);
    const int error = errno;
    ::close(descriptor);
    if (sent < 0)
    {
        return std::string("sendto ") + socket_name + ": " + std::strerror(error);
    }
    return {};
}

} // namespace

void report_ready()
{
    psp_logger().LogInfo() << "report_ready";
    const char* socket_name = std::getenv("NOTIFY_SOCKET");
    if (socket_name == nullptr || *socket_name == '\0')
    {
        return;
    }
    const std::string failure = notify_systemd(socket_name);
    if (failure.empty())
    {
        psp_logger().LogDebug() << "report_ready: READY=1 sent to " << socket_name;
    }
    else
    {
        psp_logger().LogWarn() << "report_ready: " << failure;
    }
}

} // namespace kest::psp::startup
