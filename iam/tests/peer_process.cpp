#include "iam/tests/peer_process.hpp"

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

namespace vela::iam::testing
{
namespace
{

/// How long the child waits for a connect and for an answer.
constexpr int child_wait_ms = 2000;

bool wait_for(int descriptor, short events, int timeout_ms)
{
    pollfd entry{descriptor, events, 0};
    int ready = 0;
    do
    {
        ready = ::poll(&entry, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

enum class Outcome
{
    answered,
    closed,
    stuck,
};

/// Reads one response up to its zero byte into a buffer of the child's stack.
Outcome read_answer(int descriptor, const std::string& expected)
{
    char buffer[256];
    std::size_t length = 0;
    while (length == 0 || buffer[length - 1] != '\0')
    {
        if (!wait_for(descriptor, POLLIN, child_wait_ms))
        {
            return Outcome::stuck;
        }
        const auto got = ::recv(descriptor, buffer + length, sizeof(buffer) - length, 0);
        if (got <= 0)
        {
            return Outcome::closed;
        }
        length += static_cast<std::size_t>(got);
        if (length == sizeof(buffer))
        {
            break;
        }
    }
    const bool expected_answer =
        length == expected.size() && std::memcmp(buffer, expected.data(), expected.size()) == 0;
    return expected_answer ? Outcome::answered : Outcome::stuck;
}

/// The child's whole life; system calls only, since the parent has threads.
[[noreturn]] void run_child(const sockaddr_un& address,
                            std::uint32_t uid,
                            int connections,
                            const std::string& request,
                            const std::string& expected,
                            int report_writer)
{
    Peer_report report;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)
    {
        ::_exit(1);
    }
    const timeval connect_timeout{child_wait_ms / 1000, 0};
    for (int index = 0; index < connections && report.stuck == 0; ++index)
    {
        const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        // a full backlog would block connect for good
        ::setsockopt(descriptor, SOL_SOCKET, SO_SNDTIMEO, &connect_timeout, sizeof(connect_timeout));
        if (::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        {
            report.connect_errno = errno;
            ++report.stuck;
            break;
        }
        const auto sent = ::send(descriptor, request.data(), request.size(), MSG_NOSIGNAL);
        const Outcome outcome = sent == static_cast<ssize_t>(request.size()) ? read_answer(descriptor, expected)
                                : errno == EPIPE || errno == ECONNRESET      ? Outcome::closed
                                                                             : Outcome::stuck;
        switch (outcome)
        {
        case Outcome::answered:
            ++report.answered;
            break;
        case Outcome::closed:
            ++report.closed;
            ::close(descriptor);
            break;
        case Outcome::stuck:
            ++report.stuck;
            break;
        }
    }
    if (::write(report_writer, &report, sizeof(report)) != static_cast<ssize_t>(sizeof(report)))
    {
        ::_exit(1);
    }
    // holds its connections until the parent ends it
    for (;;)
    {
        ::pause();
    }
}

} // namespace

Peer_process::Peer_process(const std::string& path,
                           std::uint32_t uid,
                           int connections,
                           const std::string& request,
                           const std::string& expected_response)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    int report_pipe[2];
    if (::pipe2(report_pipe, O_CLOEXEC) != 0)
    {
        return;
    }
    m_pid = ::fork();
    if (m_pid == 0)
    {
        ::close(report_pipe[0]);
        run_child(address, uid, connections, request, expected_response, report_pipe[1]);
    }
    ::close(report_pipe[1]);
    m_report_reader = report_pipe[0];
}

Peer_process::~Peer_process()
{
    if (m_report_reader >= 0)
    {
        ::close(m_report_reader);
    }
    if (m_pid > 0)
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

std::optional<Peer_report> Peer_process::report(std::chrono::milliseconds timeout) const
{
    Peer_report report;
    if (m_report_reader < 0 || !wait_for(m_report_reader, POLLIN, static_cast<int>(timeout.count())) ||
        ::read(m_report_reader, &report, sizeof(report)) != static_cast<ssize_t>(sizeof(report)))
    {
        return std::nullopt;
    }
    return report;
}

std::string response_bytes(Decision decision)
{
    const std::string& text = encoded_response(decision);
    return std::string(text.c_str(), text.size() + 1);
}

} // namespace vela::iam::testing
