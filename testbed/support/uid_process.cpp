#include "testbed/support/uid_process.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarn1::testing
{

Uid_process::Uid_process(std::uint32_t uid, const std::function<void(int report)>& body)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
    {
        return;
    }
    m_pid = ::fork();
    if (m_pid == 0)
    {
        // the test's own connections stay with the test: a copy held here would keep them open
        constexpr int s_report = 3;
        if ((ends[1] != s_report && ::dup2(ends[1], s_report) != s_report) || ::setgroups(0, nullptr) != 0 ||
            ::setgid(uid) != 0 || ::setuid(uid) != 0)
        {
            ::_exit(127);
        }
        ::closefrom(s_report + 1);
        body(s_report);
        for (;;)
        {
            ::pause();
        }
    }
    ::close(ends[1]);
    if (m_pid < 0)
    {
        ::close(ends[0]);
        return;
    }
    m_report = ends[0];
}

Uid_process::~Uid_process()
{
    if (m_pid > 0)
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_report >= 0)
    {
        ::close(m_report);
    }
}

bool Uid_process::read_report(void* data, std::size_t size, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto* bytes = static_cast<char*>(data);
    std::size_t got = 0;
    while (m_report >= 0 && got < size)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd entry{m_report, POLLIN, 0};
        // a report that is there already counts, however little time is left
        const int ready = ::poll(&entry, 1, static_cast<int>(std::max<std::int64_t>(left, 0)));
        if (ready < 0 && errno == EINTR)
        {
            continue;
        }
        if (ready <= 0)
        {
            return false;
        }
        const auto read = ::read(m_report, bytes + got, size - got);
        if (read < 0 && errno == EINTR)
        {
            continue;
        }
        if (read <= 0)
        {
            return false;
        }
        got += static_cast<std::size_t>(read);
    }
    return got == size;
}

int connect_unix(const char* path, bool nonblocking) noexcept
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(path);
    if (length >= sizeof(address.sun_path))
    {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path, length);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonblocking ? SOCK_NONBLOCK : 0), 0);
    if (socket < 0)
    {
        return -1;
    }
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    {
        const int error = errno;
        ::close(socket);
        errno = error;
        return -1;
    }
    return socket;
}

bool send_all(int socket, const void* data, std::size_t size) noexcept
{
    const auto* bytes = static_cast<const char*>(data);
    std::size_t sent = 0;
    while (sent < size)
    {
        const auto result = ::send(socket, bytes + sent, size - sent, MSG_NOSIGNAL);
        if (result < 0 && errno == EINTR)
        {
            continue;
        }
        if (result <= 0)
        {
            return false;
        }
        sent += static_cast<std::size_t>(result);
    }
    return true;
}

} // namespace tarn1::testing
