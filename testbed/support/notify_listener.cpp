#include "testbed/support/notify_listener.hpp"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace tarn1::testing
{

Notify_listener::Notify_listener(std::string path)
    : m_path(std::move(path))
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_path.empty() || m_path.size() >= sizeof(address.sun_path))
    {
        return;
    }
    std::memcpy(address.sun_path, m_path.data(), m_path.size());
    const int descriptor = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0)
    {
        return;
    }
    ::unlink(m_path.c_str());
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API takes the generic address
    if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    {
        ::close(descriptor);
        return;
    }
    m_descriptor = descriptor;
    m_reader = std::thread([this] { read_all(); });
}

Notify_listener::~Notify_listener()
{
    if (m_descriptor < 0)
    {
        return;
    }
    // wakes the reader's blocked receive with an end of input
    ::shutdown(m_descriptor, SHUT_RDWR);
    m_reader.join();
    ::close(m_descriptor);
    ::unlink(m_path.c_str());
}

void Notify_listener::read_all()
{
    char buffer[4096];
    for (;;)
    {
        const ssize_t received = ::recv(m_descriptor, buffer, sizeof(buffer), 0);
        if (received < 0 && errno == EINTR)
        {
            continue;
        }
        if (received <= 0)
        {
            return;
        }
        const auto now = std::chrono::steady_clock::now();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notifications.push_back({std::string(buffer, static_cast<std::size_t>(received)), now});
        m_arrived.notify_all();
    }
}

std::optional<std::size_t>
Notify_listener::wait_for(const std::string& fragment, std::chrono::milliseconds timeout, std::size_t from) const
{
    std::optional<std::size_t> found;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_arrived.wait_for(lock,
                       timeout,
                       [&]
                       {
                           for (std::size_t index = from; index < m_notifications.size(); ++index)
                           {
                               if (m_notifications[index].text.find(fragment) != std::string::npos)
                               {
                                   found = index;
                                   return true;
                               }
                           }
                           return false;
                       });
    return found;
}

bool Notify_listener::wait_for_count(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock, timeout, [&] { return m_notifications.size() >= count; });
}

std::vector<Notification> Notify_listener::notifications() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_notifications;
}

} // namespace tarn1::testing
