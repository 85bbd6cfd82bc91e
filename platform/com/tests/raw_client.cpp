#include "platform/com/tests/raw_client.hpp"

#include "platform/com/tests/echo_interface.hpp"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace tarn1::testing
{

namespace
{
int milliseconds_until(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}
} // namespace

Raw_client::Raw_client(const std::string& endpoint)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (endpoint.size() >= sizeof address.sun_path)
    {
        throw std::system_error(ENAMETOOLONG, std::generic_category(), endpoint);
    }
    std::memcpy(address.sun_path, endpoint.c_str(), endpoint.size() + 1);
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
    {
        throw std::system_error(errno, std::generic_category(), "socket");
    }
    if (::connect(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        const int error = errno;
        ::close(m_fd);
        throw std::system_error(error, std::generic_category(), "connect " + endpoint);
    }
}

Raw_client::~Raw_client()
{
    if (m_fd >= 0)
    {
        ::close(m_fd);
    }
}

std::vector<std::uint8_t> Raw_client::frame(kest::com::someip::Message_header header,
                                            const std::vector<std::uint8_t>& payload)
{
    header.length = kest::com::someip::kLength_offset + static_cast<std::uint32_t>(payload.size());
    std::vector<std::uint8_t> bytes(kest::com::someip::kHeader_size);
    kest::com::someip::encode_header(header, bytes.data());
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

std::vector<std::uint8_t>
Raw_client::request(std::uint16_t method, std::uint16_t session, const std::vector<std::uint8_t>& payload)
{
    kest::com::someip::Message_header header;
    header.service_id = EchoInterface::description().numeric_service_id();
    header.method_id = method;
    header.client_id = 1;
    header.session_id = session;
    return frame(header, payload);
}

std::size_t Raw_client::send_some(const std::uint8_t* bytes, std::size_t size)
{
    const ssize_t sent = ::send(m_fd, bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    return sent < 0 ? 0 : static_cast<std::size_t>(sent);
}

bool Raw_client::send_all(const std::vector<std::uint8_t>& bytes, std::chrono::milliseconds timeout)
{
    std::size_t offset = 0;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (offset < bytes.size())
    {
        const ssize_t sent = ::send(m_fd, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0)
        {
            offset += static_cast<std::size_t>(sent);
            deadline = std::chrono::steady_clock::now() + timeout;
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        {
            return false;
        }
        pollfd writable{m_fd, POLLOUT, 0};
        if (::poll(&writable, 1, milliseconds_until(deadline)) <= 0)
        {
            return false;
        }
    }
    return true;
}

bool Raw_client::fill(std::chrono::steady_clock::time_point deadline)
{
    pollfd readable{m_fd, POLLIN, 0};
    if (::poll(&readable, 1, milliseconds_until(deadline)) <= 0)
    {
        return false;
    }
    std::uint8_t buffer[64 * 1024];
    const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR))
    {
        return true;
    }
    if (got <= 0)
    {
        return false;
    }
    m_in.insert(m_in.end(), buffer, buffer + got);
    return true;
}

std::optional<Raw_client::Frame> Raw_client::read_frame(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        if (m_in.size() >= kest::com::someip::kHeader_size)
        {
            const auto header = kest::com::someip::decode_header(m_in.data());
            const std::size_t size = kest::com::someip::kHeader_size + header.payload_size();
            if (m_in.size() >= size)
            {
                Frame frame{header,
                            std::vector<std::uint8_t>(m_in.begin() + kest::com::someip::kHeader_size,
                                                      m_in.begin() + static_cast<std::ptrdiff_t>(size))};
                m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(size));
                return frame;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline || !fill(deadline))
        {
            return std::nullopt;
        }
    }
}

bool Raw_client::wait_for_hangup(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        pollfd readable{m_fd, POLLIN, 0};
        if (::poll(&readable, 1, milliseconds_until(deadline)) <= 0)
        {
            return false;
        }
        std::uint8_t buffer[4096];
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
        {
            return true;
        }
    }
}

} // namespace tarn1::testing
