#include "client_state_notifier/socket.hpp"

#include "client_state_notifier/utilities.hpp"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace utilities
{

namespace
{

[[noreturn]] void throw_errno(const char* context)
{
    throw std::system_error(errno, std::system_category(), context);
}

} // namespace

Socket::Socket(std::int32_t fd)
    : m_socket(fd)
{
    if (m_socket == -1)
    {
        throw_errno("Socket::Socket(int32_t)");
    }
}

Socket::Socket(std::int32_t domain, std::int32_t type, std::int32_t protocol)
    : Socket(::socket(domain, type, protocol))
{
}

Socket::~Socket()
{
    if (m_socket != -1 && ::close(m_socket) != 0)
    {
        ara::log::LogStream(ara::log::LogLevel::kError, get_logger())
            << "close(m_socket) failed with error: " << std::generic_category().message(errno);
    }
}

Socket::Socket(Socket&& other) noexcept
    : m_socket(other.m_socket)
{
    other.m_socket = -1;
}

Socket& Socket::operator=(Socket&& other) noexcept
{
    std::swap(m_socket, other.m_socket);
    return *this;
}

std::int32_t Socket::listen(std::int32_t backlog) const
{
    const auto result = ::listen(m_socket, backlog);
    if (result != 0)
    {
        throw_errno("Socket::listen(int32_t)");
    }
    return result;
}

void Socket::sendl(const void* data, std::size_t length, std::int32_t flags) const
{
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t sent = 0;
    while (sent < length)
    {
        const auto result = ::send(m_socket, bytes + sent, length - sent, flags | MSG_NOSIGNAL);
        if (result < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            throw_errno("Socket::sendl(...)");
        }
        sent += static_cast<std::size_t>(result);
    }
}

std::size_t Socket::recv(void* buffer, std::size_t length, std::int32_t flags) const
{
    while (true)
    {
        const auto result = ::recv(m_socket, buffer, length, flags);
        if (result > 0)
        {
            return static_cast<std::size_t>(result);
        }
        if (result == 0)
        {
            throw ExceptionSocketClosed("Socket::recv called with closed socket");
        }
        if (errno == EINTR)
        {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK)
        {
            throw ExceptionSocketTimeout("Socket::recv timeout, retry");
        }
        throw_errno("Socket::recv(...)");
    }
}

void Socket::recvl(void* buffer, std::size_t length, std::int32_t flags) const
{
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t received = 0;
    while (received < length)
    {
        received += recv(bytes + received, length - received, flags);
    }
}

std::pair<std::int16_t, bool> Socket::poll(std::int16_t events, std::int32_t timeout_ms) const
{
    pollfd fd{m_socket, events, 0};
    const bool ready = poll_count(&fd, 1, timeout_ms) > 0;
    return {fd.revents, ready};
}

bool Socket::try_connect(const sockaddr_un& address, const Socket& stop) const
{
    while (true)
    {
        if (::connect(m_socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        {
            return true;
        }
        if (errno == EINTR)
        {
            continue;
        }
        if (errno != ENOENT && errno != ECONNREFUSED)
        {
            throw_errno("Socket::try_connect(...)");
        }
        const auto [revents, ready] = stop.poll(POLLIN, 100);
        if (ready && (revents & (POLLIN | POLLHUP)) != 0)
        {
            return false;
        }
    }
}

Peer_credentials Socket::get_peer_credentials() const
{
    ucred credentials{};
    socklen_t length = sizeof(credentials);
    if (::getsockopt(m_socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
    {
        throw_errno("Socket::get_peer_credentials()");
    }
    return Peer_credentials{credentials.pid, credentials.uid, credentials.gid};
}

sockaddr_un create_unix_address(const std::string& path)
{
    sockaddr_un address{};
    constexpr std::size_t max_size = sizeof(address.sun_path);
    if (path.size() > max_size)
    {
        throw std::runtime_error("socket address is too big for unix domain socket path (max size " +
                                 std::to_string(max_size) + "): " + path);
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

std::vector<pollfd> create_pollfd(std::int16_t events, const std::vector<const Socket*>& sockets)
{
    std::vector<pollfd> fds;
    fds.reserve(sockets.size());
    create_pollfd_helper(events, fds, sockets);
    return fds;
}

void create_pollfd_helper(std::int16_t events, std::vector<pollfd>& fds, const std::vector<const Socket*>& sockets)
{
    for (const auto* socket : sockets)
    {
        fds.push_back(pollfd{socket->get_fd(), events, 0});
    }
}

bool poll(std::vector<pollfd>& fds, std::int32_t timeout_ms)
{
    return poll_count(fds.data(), fds.size(), timeout_ms) > 0;
}

std::size_t poll_count(pollfd* fds, std::size_t count, std::int32_t timeout_ms)
{
    timespec timeout{};
    timespec* timeout_pointer = nullptr;
    if (timeout_ms >= 0)
    {
        timeout.tv_sec = timeout_ms / 1000;
        timeout.tv_nsec = static_cast<long>(timeout_ms % 1000) * 1000000L;
        timeout_pointer = &timeout;
    }
    while (true)
    {
        const auto result = ::ppoll(fds, count, timeout_pointer, nullptr);
        if (result >= 0)
        {
            return static_cast<std::size_t>(result);
        }
        if (errno != EINTR)
        {
            throw_errno("Socket::poll()");
        }
    }
}

std::pair<Socket, Socket> socket_pair()
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
    {
        throw_errno("socketpair(AF_UNIX, SOCK_STREAM, 0, sockets)");
    }
    return {Socket(fds[0]), Socket(fds[1])};
}

} // namespace utilities
