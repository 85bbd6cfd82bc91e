#include "tests/robustness/hostile_peers.hpp"

#include "testbed/support/uid_process.hpp"

#include <cerrno>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tarn1::testing
{
namespace
{

using namespace std::chrono_literals;

/// Sends what the socket takes of bytes[offset..] now; the new offset, or nothing once the
/// connection is gone.
std::optional<std::size_t> send_some(int socket, const Bytes& bytes, std::size_t offset)
{
    while (offset < bytes.size())
    {
        const auto sent = ::send(socket, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno == EINTR)
        {
            continue;
        }
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        {
            break;
        }
        if (sent <= 0)
        {
            return std::nullopt;
        }
        offset += static_cast<std::size_t>(sent);
    }
    return offset;
}

/// Whether the peer closed the connection within timeout; what it sent meanwhile is skipped.
bool closed_within(int socket, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char scratch[4096];
    for (;;)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        pollfd entry{socket, POLLIN, 0};
        if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0)
        {
            return false;
        }
        const auto got = ::recv(socket, scratch, sizeof(scratch), MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
        {
            return true;
        }
    }
}

} // namespace

void Attacker_thread::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopped = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
    {
        m_thread.join();
    }
}

bool Attacker_thread::pause(std::chrono::milliseconds pause)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_changed.wait_for(lock, pause, [this] { return m_stopped.load(); });
}

Connection_flood::Connection_flood(std::string path, Message_maker greeting, std::size_t burst)
    : m_path(std::move(path))
    , m_greeting(std::move(greeting))
    , m_burst(burst)
{
    m_thread.start([this] { run(); });
}

Connection_flood::~Connection_flood()
{
    m_thread.stop();
    for (const int socket : m_open)
    {
        ::close(socket);
    }
}

void Connection_flood::run()
{
    while (!m_thread.stopped())
    {
        const int socket = connect_unix(m_path.c_str(), true);
        if (socket < 0)
        {
            // EAGAIN: the backlog is full, the daemon takes no more
            m_blocked = m_blocked || errno == EAGAIN;
        }
        else
        {
            if (m_greeting)
            {
                send_some(socket, m_greeting(m_connections), 0);
            }
            m_open.push_back(socket);
            ++m_connections;
        }
        if ((m_blocked || m_connections >= m_burst) && !m_thread.pause(10ms))
        {
            break;
        }
    }
}

Tricklers::Tricklers(std::string path, Message_maker message, std::size_t count, std::chrono::milliseconds pace)
    : m_path(std::move(path))
    , m_message(std::move(message))
    , m_count(count)
    , m_pace(pace)
{
    m_thread.start([this] { run(); });
}

Tricklers::~Tricklers()
{
    m_thread.stop();
}

bool Tricklers::open(Connection& connection)
{
    if (connection.socket >= 0)
    {
        ::close(connection.socket);
    }
    connection.socket = connect_unix(m_path.c_str(), true);
    connection.message = m_message(m_serial++);
    connection.sent = 0;
    return connection.socket >= 0;
}

void Tricklers::run()
{
    std::vector<Connection> connections(m_count);
    for (auto& connection : connections)
    {
        open(connection);
    }
    do
    {
        for (auto& connection : connections)
        {
            if (connection.socket < 0)
            {
                open(connection);
                continue;
            }
            const Bytes one{connection.message[connection.sent]};
            const auto sent = send_some(connection.socket, one, 0);
            if (!sent)
            {
                // closed by the daemon
                ++m_replaced;
                open(connection);
                continue;
            }
            connection.sent += *sent;
            m_bytes += *sent;
            if (connection.sent == connection.message.size())
            {
                ++m_replaced;
                open(connection);
            }
        }
    } while (m_thread.pause(m_pace));
    for (const auto& connection : connections)
    {
        if (connection.socket >= 0)
        {
            ::close(connection.socket);
        }
    }
}

Non_reader::Non_reader(std::string path, Bytes greeting, Bytes message, std::chrono::milliseconds pace)
    : m_path(std::move(path))
    , m_greeting(std::move(greeting))
    , m_message(std::move(message))
    , m_pace(pace)
{
    m_thread.start([this] { run(); });
}

Non_reader::~Non_reader()
{
    m_thread.stop();
}

void Non_reader::run()
{
    const int socket = connect_unix(m_path.c_str());
    if (socket < 0 || !send_all(socket, m_greeting.data(), m_greeting.size()))
    {
        m_closed = true;
        if (socket >= 0)
        {
            ::close(socket);
        }
        return;
    }
    std::size_t offset = 0;
    while (!m_thread.stopped())
    {
        const auto sent = send_some(socket, m_message, offset);
        if (!sent)
        {
            m_closed = true;
            break;
        }
        offset = *sent;
        if (offset == m_message.size())
        {
            ++m_messages;
            offset = 0;
            if (m_pace.count() > 0 && !m_thread.pause(m_pace))
            {
                break;
            }
            continue;
        }
        // the socket is full: the daemon does not take more now
        m_blocked = true;
        pollfd entry{socket, POLLOUT, 0};
        ::poll(&entry, 1, 10);
    }
    ::close(socket);
}

Bad_frame_sender::Bad_frame_sender(std::string path, std::vector<Bytes> frames, std::chrono::milliseconds pace)
    : m_path(std::move(path))
    , m_frames(std::move(frames))
    , m_pace(pace)
{
    m_thread.start([this] { run(); });
}

Bad_frame_sender::~Bad_frame_sender()
{
    m_thread.stop();
}

void Bad_frame_sender::run()
{
    std::size_t next = 0;
    do
    {
        const int socket = connect_unix(m_path.c_str(), true);
        if (socket < 0)
        {
            continue;
        }
        send_some(socket, m_frames[next], 0);
        next = (next + 1) % m_frames.size();
        ++m_sent;
        if (closed_within(socket, 100ms))
        {
            ++m_closed;
        }
        ::close(socket);
    } while (m_thread.pause(m_pace));
}

Partial_answerer::Partial_answerer(std::string path, Bytes greeting, Bytes partial_answer)
    : m_path(std::move(path))
    , m_greeting(std::move(greeting))
    , m_partial_answer(std::move(partial_answer))
{
    m_thread.start([this] { run(); });
}

Partial_answerer::~Partial_answerer()
{
    m_thread.stop();
}

void Partial_answerer::run()
{
    const int socket = connect_unix(m_path.c_str());
    if (socket < 0)
    {
        return;
    }
    m_greeted = send_all(socket, m_greeting.data(), m_greeting.size());
    char scratch[4096];
    while (m_greeted && !m_thread.stopped())
    {
        pollfd entry{socket, POLLIN, 0};
        if (::poll(&entry, 1, 10) <= 0)
        {
            continue;
        }
        const auto got = ::recv(socket, scratch, sizeof(scratch), MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR))
        {
            break;
        }
        // once: a second part would complete a frame of nonsense and get the connection closed
        if (got > 0 && m_answered == 0 && send_all(socket, m_partial_answer.data(), m_partial_answer.size()))
        {
            ++m_answered;
        }
    }
    ::close(socket);
}

Other_user_connections::Other_user_connections(std::uint32_t uid, const std::string& path, std::vector<Bytes> greetings)
    : m_greetings(std::move(greetings))
{
    const char* const target = path.c_str();
    m_process = std::make_unique<Uid_process>(uid,
                                              [&](int report)
                                              {
                                                  for (const auto& greeting : m_greetings)
                                                  {
                                                      const int socket = connect_unix(target);
                                                      // one refused at once may be gone before its greeting
                                                      send_all(socket, greeting.data(), greeting.size());
                                                  }
                                                  const char done = 1;
                                                  (void)!::write(report, &done, 1);
                                              });
}

Other_user_connections::~Other_user_connections() = default;

bool Other_user_connections::engaged() const
{
    char done = 0;
    m_reported = m_reported || m_process->read_report(&done, 1, std::chrono::milliseconds(0));
    return m_reported;
}

} // namespace tarn1::testing
