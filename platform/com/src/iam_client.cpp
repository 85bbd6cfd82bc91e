#include "iam_client.hpp"

#include "ara/log/logging.h"
#include "log_limits.hpp"
#include "tarn1/os_error/error_text.hpp"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kest::com::internal
{

namespace
{

using vela::iam::Decision;

// Keys of the failure log lines, so that each kind is written once per second.
enum Failure : std::uint64_t
{
    kUnreachable,
    kNoAnswer,
    kBroken,
    kQueueFull,
};

std::string request_text(const vela::iam::Check_request_posix& request)
{
    std::string text = vela::iam::encode_request(vela::iam::Check_requestT<vela::iam::Check_request_posix>(request));
    // The daemon takes a request up to its zero byte.
    text.push_back('\0');
    return text;
}

/// A decision the daemon may send; anything else counts as its error answer.
Decision known_decision(Decision decision)
{
    return decision == Decision::allowed || decision == Decision::denied ? decision : Decision::error;
}

/// Connects a non-blocking socket to path; -1 with errno set when it cannot.
int connect_to(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
    {
        errno = ENAMETOOLONG;
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

Iam_client::Iam_client(Io_loop& loop, std::string socket_path)
    : m_loop(loop)
    , m_path(std::move(socket_path))
{
}

Iam_client::~Iam_client()
{
    if (m_fd >= 0)
    {
        ::close(m_fd);
    }
}

void Iam_client::log_failure(std::uint64_t kind, const std::string& text)
{
    if (const auto verdict = log_limit(Limited_log::kIamFailed).check(kind); verdict.pass)
    {
        ara::log::LogWarn() << "com: " << text << verdict;
    }
}

void Iam_client::run(Finished& finished)
{
    for (auto& [done, decision] : finished)
    {
        done(decision);
    }
    finished.clear();
}

void Iam_client::check(const vela::iam::Check_request_posix& request, Clock::time_point deadline, Done done)
{
    std::string text = request_text(request);
    Finished finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopped || m_queue.size() >= s_max_queued)
        {
            if (!m_stopped)
            {
                log_failure(kQueueFull, "too many access checks wait for the IAM daemon at " + m_path);
            }
            finished.emplace_back(std::move(done), std::nullopt);
        }
        else
        {
            m_queue.push_back(Pending{std::move(text), deadline, std::move(done)});
            send_next(finished);
            arm_deadline();
        }
    }
    if (!finished.empty())
    {
        // Never inside this call: the caller may hold what the callbacks need.
        m_loop.post([finished = std::move(finished)]() mutable { run(finished); });
    }
}

bool Iam_client::connect_locked()
{
    const int fd = connect_to(m_path);
    if (fd < 0)
    {
        log_failure(kUnreachable,
                    "cannot reach the IAM daemon at " + m_path + ": " + tarn1::os_error::error_text(errno));
        return false;
    }
    try
    {
        m_loop.add(fd, EPOLLIN | EPOLLRDHUP, shared_from_this());
    }
    catch (const std::exception& error)
    {
        ::close(fd);
        log_failure(kUnreachable, "cannot reach the IAM daemon at " + m_path + ": " + error.what());
        return false;
    }
    m_fd = fd;
    return true;
}

void Iam_client::send_next(Finished& finished)
{
    while (!m_on_wire && !m_queue.empty())
    {
        if (m_fd < 0 && !connect_locked())
        {
            // Nobody to ask: every waiting check ends without a decision.
            for (auto& pending : m_queue)
            {
                finished.emplace_back(std::move(pending.done), std::nullopt);
            }
            m_queue.clear();
            return;
        }
        Pending& head = m_queue.front();
        ++head.sent;
        // One request fits the socket's buffer whole, and nothing else is in it.
        const ssize_t sent = ::send(m_fd, head.text.data(), head.text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent == static_cast<ssize_t>(head.text.size()))
        {
            m_on_wire = true;
            return;
        }
        log_failure(kBroken,
                    "the connection to the IAM daemon at " + m_path +
                        " failed: " + (sent < 0 ? tarn1::os_error::error_text(errno) : "request cut short"));
        m_on_wire = true;
        drop_connection(true, finished);
    }
}

void Iam_client::drop_connection(bool retry, Finished& finished)
{
    if (m_fd >= 0)
    {
        m_loop.remove(m_fd);
        ::close(m_fd);
        m_fd = -1;
    }
    m_answer.clear();
    if (!m_on_wire)
    {
        return;
    }
    m_on_wire = false;
    // A daemon that restarted lost the request with its connection: it is asked once more.
    if (!retry || m_queue.front().sent >= 2)
    {
        finished.emplace_back(std::move(m_queue.front().done), std::nullopt);
        m_queue.pop_front();
    }
}

void Iam_client::arm_deadline()
{
    if (m_queue.empty())
    {
        return;
    }
    const auto earliest = std::min_element(m_queue.begin(),
                                           m_queue.end(),
                                           [](const Pending& a, const Pending& b) { return a.deadline < b.deadline; })
                              ->deadline;
    if (m_armed && *m_armed <= earliest)
    {
        return;
    }
    m_armed = earliest;
    m_loop.schedule(earliest, weak_from_this(), 0);
}

Iam_client::Read_result Iam_client::read_answer(Finished& finished)
{
    char buffer[256];
    for (;;)
    {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && errno == EINTR)
        {
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            return Read_result::kKeep;
        }
        if (got <= 0)
        {
            if (m_on_wire)
            {
                log_failure(kBroken,
                            "the connection to the IAM daemon at " + m_path +
                                " failed: " + (got == 0 ? "closed by the daemon" : tarn1::os_error::error_text(errno)));
            }
            return Read_result::kDropRetry;
        }
        if (!m_on_wire)
        {
            log_failure(kBroken, "the IAM daemon at " + m_path + " sent what was not asked for");
            return Read_result::kDropFail;
        }
        m_answer.append(buffer, static_cast<std::size_t>(got));
        const auto end = m_answer.find('\0');
        if (end == std::string::npos)
        {
            if (m_answer.size() > s_max_answer)
            {
                log_failure(kBroken, "the IAM daemon at " + m_path + " sent an answer without end");
                return Read_result::kDropFail;
            }
            continue;
        }
        if (end + 1 != m_answer.size())
        {
            log_failure(kBroken, "the IAM daemon at " + m_path + " sent more than one answer");
            return Read_result::kDropFail;
        }
        std::optional<Decision> decision;
        try
        {
            decision = known_decision(vela::iam::decode_response(std::string_view(m_answer.data(), end)).decision);
        }
        catch (const std::exception& error)
        {
            log_failure(kBroken,
                        "the IAM daemon at " + m_path + " sent an answer that does not decode: " + error.what());
            return Read_result::kDropFail;
        }
        m_answer.clear();
        m_on_wire = false;
        finished.emplace_back(std::move(m_queue.front().done), decision);
        m_queue.pop_front();
    }
}

void Iam_client::on_io(std::uint32_t /*events*/)
{
    Finished finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_fd < 0)
        {
            return;
        }
        const Read_result result = read_answer(finished);
        if (result != Read_result::kKeep)
        {
            drop_connection(result == Read_result::kDropRetry, finished);
        }
        send_next(finished);
        arm_deadline();
    }
    run(finished);
}

void Iam_client::on_deadline(std::uint64_t /*tag*/)
{
    Finished finished;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = Clock::now();
        if (m_armed && *m_armed <= now)
        {
            m_armed.reset();
        }
        bool expired = false;
        if (m_on_wire && m_queue.front().deadline <= now)
        {
            // Its answer may still come; closing makes sure it is never taken for the next one's.
            drop_connection(false, finished);
            expired = true;
        }
        for (auto it = m_queue.begin() + (m_on_wire ? 1 : 0); it != m_queue.end();)
        {
            if (it->deadline <= now)
            {
                finished.emplace_back(std::move(it->done), std::nullopt);
                it = m_queue.erase(it);
                expired = true;
            }
            else
            {
                ++it;
            }
        }
        if (expired)
        {
            log_failure(kNoAnswer, "no answer from the IAM daemon at " + m_path + " in time");
        }
        send_next(finished);
        arm_deadline();
    }
    run(finished);
}

std::optional<Decision> Iam_client::check_now(const vela::iam::Check_request_posix& request,
                                              std::chrono::milliseconds timeout)
{
    if (!m_loop.in_loop_thread())
    {
        // The checks of the process share one connection (each connection the daemon sees end is
        // a line of its log); the I/O thread answers while this thread waits.
        struct Waiter
        {
            std::mutex mutex;
            std::condition_variable answered;
            bool done{false};
            std::optional<Decision> decision;
        };
        const auto waiter = std::make_shared<Waiter>();
        check(request,
              Clock::now() + timeout,
              [waiter](std::optional<Decision> decision)
              {
                  std::lock_guard<std::mutex> lock(waiter->mutex);
                  waiter->decision = decision;
                  waiter->done = true;
                  waiter->answered.notify_all();
              });
        std::unique_lock<std::mutex> lock(waiter->mutex);
        // The deadline is the I/O thread's to keep; the margin covers a loop that is busy then.
        waiter->answered.wait_for(lock, timeout + s_wait_margin, [&] { return waiter->done; });
        return waiter->decision;
    }
    // The I/O thread cannot wait for itself: it asks over a connection of its own.
    const std::string text = request_text(request);
    const auto deadline = Clock::now() + timeout;
    const int fd = connect_to(m_path);
    if (fd < 0)
    {
        log_failure(kUnreachable,
                    "cannot reach the IAM daemon at " + m_path + ": " + tarn1::os_error::error_text(errno));
        return std::nullopt;
    }
    std::optional<Decision> decision;
    std::string answer;
    const char* failure = nullptr;
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(text.size()))
    {
        failure = "the request could not be sent";
    }
    while (failure == nullptr && !decision)
    {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd readable{fd, POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&readable, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR)
        {
            continue;
        }
        if (ready <= 0)
        {
            failure = "no answer in time";
            break;
        }
        char buffer[256];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        {
            continue;
        }
        if (got <= 0)
        {
            failure = "closed by the daemon";
            break;
        }
        answer.append(buffer, static_cast<std::size_t>(got));
        const auto end = answer.find('\0');
        if (end == std::string::npos)
        {
            if (answer.size() > s_max_answer)
            {
                failure = "an answer without end";
            }
            continue;
        }
        try
        {
            decision = known_decision(vela::iam::decode_response(std::string_view(answer.data(), end)).decision);
        }
        catch (const std::exception&)
        {
            failure = "an answer that does not decode";
        }
    }
    ::close(fd);
    if (failure != nullptr)
    {
        log_failure(kNoAnswer, "no decision from the IAM daemon at " + m_path + ": " + failure);
    }
    return decision;
}

void Iam_client::stop()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopped = true;
    if (m_fd >= 0)
    {
        m_loop.remove(m_fd);
        ::close(m_fd);
        m_fd = -1;
    }
    m_queue.clear();
    m_on_wire = false;
}

} // namespace kest::com::internal
