#include "iam/tests/unix_client.hpp"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace vela::iam::testing
{
namespace
{

bool wait_readable(int descriptor, std::chrono::milliseconds timeout)
{
    pollfd entry{descriptor, POLLIN, 0};
    int ready = 0;
    do
    {
        ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

} // namespace

Unix_client::Unix_client(const std::string& path, std::chrono::milliseconds timeout)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    do
    {
        const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        {
            m_descriptor = descriptor;
            return;
        }
        ::close(descriptor);
        // polling for a socket file that another process creates; nothing to wait on instead
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < deadline);
}

Unix_client::~Unix_client()
{
    close();
}

void Unix_client::close()
{
    if (m_descriptor >= 0)
    {
        ::close(m_descriptor);
        m_descriptor = -1;
    }
}

void Unix_client::send(const std::string& bytes) const
{
    const auto sent = ::send(m_descriptor, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    EXPECT_EQ(sent, static_cast<ssize_t>(bytes.size())) << std::strerror(errno);
}

std::optional<std::string> Unix_client::receive(std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string response;
    while (response.find('\0') == std::string::npos)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !wait_readable(m_descriptor, left))
        {
            return std::nullopt;
        }
        char buffer[256];
        const auto received = ::recv(m_descriptor, buffer, sizeof(buffer), 0);
        if (received <= 0)
        {
            return std::nullopt;
        }
        response.append(buffer, static_cast<std::size_t>(received));
    }
    EXPECT_EQ(response.find('\0'), response.size() - 1) << "bytes after the zero byte";
    response.resize(response.find('\0'));
    return response;
}

std::optional<Decision> Unix_client::receive_decision(std::chrono::milliseconds timeout) const
{
    const auto text = receive(timeout);
    if (!text)
    {
        return std::nullopt;
    }
    return decode_response(*text).decision;
}

std::optional<Decision> Unix_client::ask(const std::string& request) const
{
    send(request);
    return receive_decision();
}

bool Unix_client::wait_closed(std::chrono::milliseconds timeout) const
{
    if (!wait_readable(m_descriptor, timeout))
    {
        return false;
    }
    char byte = 0;
    return ::recv(m_descriptor, &byte, 1, MSG_DONTWAIT) == 0;
}

std::string posix_request_text(std::uint32_t uid, std::uint32_t service_id)
{
    Check_request_posix request;
    request.identifier = identifier::Identifier_posix{100, uid, uid};
    request.service = iam_internal_if::Service_someip_ifc{service_id, 0, Operation::Use_service};
    return encode_request(Check_requestT<Check_request_posix>(request));
}

} // namespace vela::iam::testing
