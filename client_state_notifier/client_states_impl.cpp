#include "client_state_notifier/client_states_impl.hpp"

#include "client_state_notifier/frame_reader.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <sys/socket.h>
#include <system_error>

namespace client_state_notifier
{

using utilities::get_logger;
using utilities::Socket;
using Clock = std::chrono::steady_clock;

namespace
{

constexpr std::size_t s_listening_index = 0;
constexpr std::size_t s_wakeup_index = 1;
constexpr std::size_t s_first_client_index = 2;
constexpr short s_hangup_events = POLLHUP | POLLERR | POLLNVAL;
// Running out of descriptors or memory at accept: new connections wait this long while the
// connected clients are served as usual.
constexpr std::chrono::milliseconds s_accept_pause{100};
// The uid of a peer whose credentials cannot be read: bounded like any user but root.
constexpr std::uint32_t s_unknown_uid = UINT32_MAX;

ara::log::LogStream log(ara::log::LogLevel level)
{
    return ara::log::LogStream(level, get_logger());
}

/// The kinds of message that a client can cause as often as it likes; each has its own limiter.
enum class Peer_message : std::size_t
{
    connected,
    disconnected,
    closed_before_hello,
    bad_hello,
    late_hello,
    evicted,
    refused,
    hung_up_mid_frame,
    bad_frame,
    receive_failed,
    send_failed,
    count
};

/// A connection of the poll list. Until its hello is complete it owns its socket; from then
/// on the client record does.
struct Connection
{
    std::unique_ptr<Socket> unregistered;
    const Socket* socket{nullptr};
    Client_state* client{nullptr};
    utilities::Frame_reader reader;
    Clock::time_point hello_deadline;
    /// Read once at accept; a peer whose credentials cannot be read counts as pid 0 and as a
    /// user other than root.
    utilities::Peer_credentials peer;
    /// Whom the log limiters count this connection's messages for: its process until the
    /// hello, then its process and name, so that one process with several clients is seen
    /// as several peers while a process repeating one misbehaviour is one.
    std::uint64_t log_key{0};
    bool drop{false};
};

std::uint64_t process_key(const utilities::Peer_credentials& peer)
{
    return static_cast<std::uint32_t>(peer.pid);
}

std::uint64_t client_key(const utilities::Peer_credentials& peer, const std::string& name)
{
    return (process_key(peer) << 32U) ^ std::hash<std::string>{}(name);
}

/// The server thread with everything it owns for its lifetime.
///
/// Each poll round takes, in this order: one command from the wake-up socket (a new request),
/// one read from each registered client that has something, the deadline of the current
/// request, the hellos of connections that have sent something, and at most
/// max_accepts_per_round new connections. Every part of a round is bounded, so no number of
/// connecting or trickling peers holds a request or its deadline back by more than one round.
class Server
{
  public:
    Server(Socket wakeup,
           Client_status_callback client_status_callback,
           Client_states_shared& shared,
           Server_options options)
        : m_wakeup(std::move(wakeup))
        , m_client_status_callback(std::move(client_status_callback))
        , m_shared(shared)
        , m_options(std::move(options))
    {
        for (auto& limiter : m_log_limiters)
        {
            limiter.emplace(m_options.log_limits);
        }
    }

    void thread_main();
    /// From now on request_state_change throws Exception_server_stopped.
    void mark_stopped() noexcept
    {
        {
            std::lock_guard<std::mutex> lock(m_shared.pending_request_mutex);
            m_shared.server_stopped = true;
        }
        m_shared.server_started.notify_all();
    }
    /// Marks the server as stopped; after a crash, completes what was handed over with error.
    void finish(bool crashed) noexcept;

  private:
    pollfd& fd_of(std::size_t connection) { return m_fds[connection + s_first_client_index]; }
    /// Reads one command from the wake-up socket; false for the terminate command.
    bool take_command();
    void process_new_connections();
    /// Accepts one connection; false when none is waiting or accepting must pause.
    bool accept_client();
    void close_oldest_waiting();
    /// Registered clients of uid.
    std::size_t registered_of(std::uint32_t uid) const;
    /// Whether one more client of peer's uid would exceed its bound; root is bound only by the total.
    bool uid_is_full(const utilities::Peer_credentials& peer) const
    {
        return peer.uid != 0 && registered_of(peer.uid) >= m_options.max_clients_per_uid;
    }
    void read_hello(std::size_t connection);
    void register_client(Connection& connection);
    void process_state_change_request();
    void process_client_responses();
    void read_responses(Connection& connection);
    void handle_response(Connection& connection);
    void process_timeout();
    std::int32_t calculate_timeout(Clock::time_point now) const;
    void close_late_hellos(Clock::time_point now);
    void drop_connection(Connection& connection, Peer_message kind, const char* reason, const std::string& detail);
    /// Removes the connections marked for dropping; the caller holds the clients mutex.
    void delete_hangup_clients();
    void call_callback_after_all_clients_responded();
    void send_request(Connection& connection, const std::string& state);
    utilities::Peer_log_limiter::Verdict may_log(Peer_message kind, std::uint64_t key)
    {
        return m_log_limiters[static_cast<std::size_t>(kind)]->check(key);
    }

    Socket m_listening;
    Socket m_wakeup;
    Client_status_callback m_client_status_callback;
    Client_states_shared& m_shared;
    Server_options m_options;
    std::optional<utilities::Deleter> m_socket_file;

    // The poll list: [listening, wake-up, connections in order of connection]; m_connections[i]
    // belongs to m_fds[i + 2]. Kept across iterations so that polling allocates nothing.
    std::vector<pollfd> m_fds;
    std::vector<Connection> m_connections;
    /// Connections waiting for their hello and not marked for dropping.
    std::size_t m_waiting{0};
    /// Registered clients; the server thread is the only one that changes the records.
    std::size_t m_registered{0};
    /// Registered clients per uid other than root; uids without clients have no entry.
    std::map<std::uint32_t, std::size_t> m_registered_per_uid;
    bool m_drops{false};
    Clock::time_point m_accept_paused_until{};
    std::array<std::optional<utilities::Peer_log_limiter>, static_cast<std::size_t>(Peer_message::count)>
        m_log_limiters;
    // Accept failures are the server's own condition, whoever caused them: one line a second.
    tarn1::log_limit::Log_rate_limiter m_accept_failure_limiter{std::chrono::seconds(1), 1, 1};

    /// Called right before the current request's completion callback, when it has an observer.
    void tell_observer(Callback_status status);
    /// The record of the named client in the current request, when its observer keeps records.
    Client_record* record_of(const std::string& name);

    std::unique_ptr<State_change_request> m_current;
    Pending_names m_pending_names;
    Result_map m_results;
    /// One per client the current request selected, in the order they were asked; kept only when
    /// the request has an observer.
    std::vector<Client_record> m_records;
    utilities::Bytes m_send_buffer;
    utilities::Frame_view m_view;
};

void Server::thread_main()
{
    // Non-blocking, so that a round can take connections until none is left or its bound is reached.
    m_listening = Socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    m_fds.push_back(pollfd{m_listening.get_fd(), POLLIN, 0});
    m_fds.push_back(pollfd{m_wakeup.get_fd(), POLLIN, 0});

    const auto& path = m_options.socket_path;
    const auto directory = utilities::get_containing_directory(path);
    if (!directory.empty())
    {
        utilities::make_dirs(directory, 0755);
    }
    utilities::delete_file(path);
    m_socket_file.emplace(path, false);
    const auto address = utilities::create_unix_address(path);
    if (::bind(m_listening.get_fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
    {
        throw std::system_error(errno, std::system_category(), "Socket::bind(...)");
    }
    m_listening.listen(10);
    log(ara::log::LogLevel::kDebug) << "socket created: " << path;
    {
        std::lock_guard<std::mutex> lock(m_shared.pending_request_mutex);
        m_shared.listening = true;
    }
    m_shared.server_started.notify_all();

    while (true)
    {
        const auto before = Clock::now();
        m_fds[s_listening_index].fd = (before < m_accept_paused_until) ? -1 : m_listening.get_fd();
        for (auto& fd : m_fds)
        {
            fd.revents = 0;
        }
        const State_change_request* polled = m_current.get();
        const auto ready = utilities::poll_count(m_fds.data(), m_fds.size(), calculate_timeout(before));

        if (ready > 0)
        {
            // The state notifier's request first: nothing a client does comes before it.
            if (m_fds[s_wakeup_index].revents != 0 && !take_command())
            {
                break;
            }
            process_client_responses();
        }
        // Checked after the answers, so that answers already readable count, and whether or
        // not anything was ready: a deadline in the past completes at the next poll even
        // while other sockets keep the server busy. A request taken in this round gets one
        // poll for its answers.
        const auto now = Clock::now();
        if (m_current && m_current.get() == polled && m_current->deadline <= now)
        {
            process_timeout();
        }
        if (ready > 0)
        {
            process_new_connections();
        }
        close_late_hellos(Clock::now());
    }
    m_current.reset();
}

bool Server::take_command()
{
    const auto command = utilities::receive_type_length_values(m_wakeup);
    if (!command.empty() && command[0].get_string() == utilities::get_terminate_command())
    {
        return false;
    }
    process_state_change_request();
    return true;
}

void Server::finish(bool crashed) noexcept
{
    std::unique_ptr<State_change_request> pending;
    {
        std::lock_guard<std::mutex> lock(m_shared.pending_request_mutex);
        m_shared.server_stopped = true;
        pending = std::move(m_shared.pending_request);
    }
    m_shared.server_started.notify_all();
    if (!crashed)
    {
        return;
    }
    // Nobody will serve these any more: tell their owners rather than leave them waiting.
    for (auto* request : {m_current.get(), pending.get()})
    {
        if (request == nullptr)
        {
            continue;
        }
        try
        {
            log(ara::log::LogLevel::kWarn)
                << "completing request for " << request->state << " with error: server thread has ended";
            if (request == m_current.get())
            {
                for (const auto& name : m_pending_names)
                {
                    if (auto* record = record_of(name))
                    {
                        record->outcome = Client_outcome::dropped;
                    }
                }
                tell_observer(Callback_status::error);
            }
            else if (request->observer)
            {
                request->observer->request_completed(
                    Request_record{request->state, Callback_status::error, request->requested, Clock::now(), {}});
            }
            request->callback(Callback_status::error, (request == m_current.get()) ? m_results : Result_map{});
        }
        catch (const std::exception& error)
        {
            log(ara::log::LogLevel::kWarn) << "Client_states_impl thread crashed: " << error.what();
        }
    }
    m_current.reset();
}

std::int32_t Server::calculate_timeout(Clock::time_point now) const
{
    std::optional<Clock::time_point> wake;
    const auto earliest = [&wake](Clock::time_point candidate)
    {
        if (!wake || candidate < *wake)
        {
            wake = candidate;
        }
    };
    if (m_current)
    {
        earliest(m_current->deadline);
    }
    if (m_waiting > 0)
    {
        // In order of connection, so the first one waiting is due first.
        for (const auto& connection : m_connections)
        {
            if (connection.client == nullptr)
            {
                earliest(connection.hello_deadline);
                break;
            }
        }
    }
    if (now < m_accept_paused_until)
    {
        earliest(m_accept_paused_until);
    }
    if (!wake)
    {
        return -1;
    }
    if (*wake <= now)
    {
        return 0;
    }
    // Rounded up, so that the poll returns after the deadline, not just before it.
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(*wake - now).count();
    const auto milliseconds = (nanoseconds + 999999) / 1000000;
    return static_cast<std::int32_t>(std::min<std::int64_t>(milliseconds, INT32_MAX));
}

void Server::process_new_connections()
{
    // Hellos first: a connection that completes one frees its place among those waiting
    // before new ones are taken.
    for (std::size_t index = 0; index < m_connections.size() && m_waiting > 0; ++index)
    {
        if (m_connections[index].client == nullptr && !m_connections[index].drop && fd_of(index).revents != 0)
        {
            read_hello(index);
        }
    }
    if ((m_fds[s_listening_index].revents & POLLIN) != 0)
    {
        for (std::size_t accepted = 0; accepted < m_options.max_accepts_per_round && accept_client(); ++accepted)
        {
        }
    }
    if (m_drops)
    {
        std::lock_guard<std::mutex> lock(m_shared.clients_mutex);
        delete_hangup_clients();
        call_callback_after_all_clients_responded();
    }
}

bool Server::accept_client()
{
    sockaddr_un address{};
    socklen_t length = sizeof(address);
    const auto fd =
        ::accept4(m_listening.get_fd(), reinterpret_cast<sockaddr*>(&address), &length, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
    {
        const auto error = errno;
        if (error == EINTR || error == EINVAL || error == EAGAIN || error == EWOULDBLOCK || error == ECONNABORTED)
        {
            return false;
        }
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM)
        {
            const auto verdict = m_accept_failure_limiter.check(0);
            if (verdict.pass)
            {
                log(ara::log::LogLevel::kWarn)
                    << "accept failed, new connections wait: "
                    << std::system_error(error, std::system_category(), "Socket::accept()").what() << verdict;
            }
            m_accept_paused_until = Clock::now() + s_accept_pause;
            return false;
        }
        throw std::system_error(error, std::system_category(), "Socket::accept()");
    }
    Connection connection;
    connection.unregistered = std::make_unique<Socket>(fd);
    connection.socket = connection.unregistered.get();
    try
    {
        connection.peer = connection.socket->get_peer_credentials();
    }
    catch (const std::system_error&)
    {
        // Not known: the connection is served all the same, counted as pid 0 and bounded as a
        // user, so that unreadable credentials never pass for root's.
        connection.peer.uid = s_unknown_uid;
        connection.peer.gid = s_unknown_uid;
    }
    connection.log_key = process_key(connection.peer);
    if (m_registered >= m_options.max_clients)
    {
        // Closed at once (when connection goes out of scope), so that a peer cannot take
        // every descriptor; the client sees the hang-up and may try again later.
        const auto verdict = may_log(Peer_message::refused, connection.log_key);
        if (verdict.pass)
        {
            log(ara::log::LogLevel::kWarn) << "refusing connection of pid " << connection.peer.pid << ": "
                                           << m_options.max_clients << " clients are connected" << verdict;
        }
        return true;
    }
    if (uid_is_full(connection.peer))
    {
        const auto verdict = may_log(Peer_message::refused, connection.log_key);
        if (verdict.pass)
        {
            log(ara::log::LogLevel::kWarn)
                << "refusing connection of pid " << connection.peer.pid << ": uid " << connection.peer.uid << " has "
                << m_options.max_clients_per_uid << " clients connected" << verdict;
        }
        return true;
    }
    connection.hello_deadline = Clock::now() + m_options.hello_timeout;
    m_connections.push_back(std::move(connection));
    m_fds.push_back(pollfd{fd, POLLIN, 0});
    ++m_waiting;
    // A well-behaved client sends its hello right after connecting: take it now if it is there.
    read_hello(m_connections.size() - 1);
    if (m_waiting > m_options.max_waiting_for_hello)
    {
        close_oldest_waiting();
    }
    return true;
}

void Server::close_oldest_waiting()
{
    // The oldest has had the longest time to say hello; a client that sends its hello right
    // after connecting is never the oldest for long, so tricklers cannot keep it out.
    for (auto& connection : m_connections)
    {
        if (connection.client == nullptr && !connection.drop)
        {
            drop_connection(connection,
                            Peer_message::evicted,
                            "closing the oldest connection waiting for its hello: more than ",
                            std::to_string(m_options.max_waiting_for_hello) + " wait");
            return;
        }
    }
}

std::size_t Server::registered_of(std::uint32_t uid) const
{
    const auto of_uid = m_registered_per_uid.find(uid);
    return of_uid == m_registered_per_uid.end() ? 0 : of_uid->second;
}

void Server::read_hello(std::size_t index)
{
    auto& connection = m_connections[index];
    try
    {
        if (!connection.reader.read_available(*connection.socket))
        {
            return;
        }
        if (connection.reader.next_frame(m_view))
        {
            register_client(connection);
        }
    }
    catch (const utilities::ExceptionSocketClosed&)
    {
        drop_connection(
            connection, Peer_message::closed_before_hello, "connection closed before its hello was complete", "");
    }
    // Only what the peer caused ends its connection; anything else (a callback that throws)
    // is the server's own failure.
    catch (const utilities::Exception_bad_frame& error)
    {
        drop_connection(connection, Peer_message::bad_hello, "closing connection with a bad hello: ", error.what());
    }
    catch (const std::system_error& error)
    {
        drop_connection(connection, Peer_message::bad_hello, "closing connection with a bad hello: ", error.what());
    }
}

void Server::register_client(Connection& connection)
{
    if (m_view.count < 3)
    {
        throw utilities::Exception_bad_frame("hello message with " + std::to_string(m_view.count) + " elements");
    }
    auto name = m_view.elements[1].get_string();
    auto reported = m_view.elements[2].get_string();
    if (m_registered >= m_options.max_clients)
    {
        drop_connection(connection,
                        Peer_message::refused,
                        "refusing client ",
                        utilities::log_text(name) + ": " + std::to_string(m_options.max_clients) +
                            " clients are connected");
        return;
    }
    // Connections of one uid that waited for their hello together may complete them together.
    if (uid_is_full(connection.peer))
    {
        drop_connection(connection,
                        Peer_message::refused,
                        "refusing client ",
                        utilities::log_text(name) + ": uid " + std::to_string(connection.peer.uid) + " has " +
                            std::to_string(m_options.max_clients_per_uid) + " clients connected");
        return;
    }
    connection.log_key = client_key(connection.peer, name);
    const auto verdict = may_log(Peer_message::connected, connection.log_key);
    if (verdict.pass)
    {
        log(ara::log::LogLevel::kInfo) << "client connected: name = " << utilities::log_text(name)
                                       << ", current state = " << utilities::log_text(reported) << verdict;
        // Which process registered under a name, as the kernel saw it connect.
        log(ara::log::LogLevel::kDebug) << "client credentials: name = " << utilities::log_text(name)
                                        << ", pid = " << connection.peer.pid << ", uid = " << connection.peer.uid
                                        << ", gid = " << connection.peer.gid;
    }

    // Copied when the hello is complete (not at accept), so a client whose hello was late is
    // still asked for the newest default state.
    std::string default_state = utilities::get_unknown_state();
    {
        std::lock_guard<std::mutex> lock(m_shared.default_state_mutex);
        default_state = m_shared.default_state;
    }

    std::lock_guard<std::mutex> lock(m_shared.clients_mutex);
    if (is_name_duplicated(m_shared.clients, name))
    {
        m_client_status_callback(name, Client_status::name_already_connected, reported);
    }
    const Socket* key = connection.socket;
    Client_state record{
        std::move(connection.unregistered), std::move(name), 1, default_state, std::move(reported), nullptr, {}};
    auto& client = m_shared.clients.emplace(key, std::move(record)).first->second;
    connection.client = &client;
    --m_waiting;
    ++m_registered;
    if (connection.peer.uid != 0)
    {
        ++m_registered_per_uid[connection.peer.uid];
    }
    if (client.current_state != default_state)
    {
        send_request(connection, default_state);
    }
    // Frames that came together with the hello are answers like any other.
    while (!connection.drop && connection.reader.next_frame(m_view))
    {
        handle_response(connection);
    }
}

void Server::send_request(Connection& connection, const std::string& state)
{
    // Asked something else: an answer to an older request would carry an old id from now on.
    connection.client->late_observer.reset();
    utilities::write_state_change_request(m_send_buffer, connection.client->request_id, state);
    try
    {
        connection.socket->sendl(m_send_buffer.data(), m_send_buffer.size(), 0);
    }
    catch (const std::system_error& error)
    {
        // Gone away, or not reading at all so that its buffer is full.
        drop_connection(connection, Peer_message::send_failed, "cannot send to client: ", error.what());
    }
}

void Server::process_state_change_request()
{
    std::lock_guard<std::mutex> lock(m_shared.clients_mutex);
    {
        std::lock_guard<std::mutex> pending_lock(m_shared.pending_request_mutex);
        if (!m_shared.pending_request)
        {
            return;
        }
        m_current = std::move(m_shared.pending_request);
    }
    m_pending_names.clear();
    m_results.clear();
    m_records.clear();
    const auto& state = m_current->state;
    log(ara::log::LogLevel::kDebug) << "sending state change request to clients. new state = " << state;

    // In record order (ascending descriptors); the connection of a record is found by its socket.
    std::size_t selected = 0;
    for (auto& [socket, client] : m_shared.clients)
    {
        if (!m_current->filter(client.name))
        {
            continue;
        }
        client.requested_state = state;
        ++client.request_id;
        client.late_observer.reset();
        if (m_current->observer && m_pending_names.count(client.name) == 0)
        {
            m_records.push_back(
                Client_record{client.name, Client_outcome::timed_out, Component_client_return_type::timed_out, "", {}});
        }
        m_pending_names.insert(client.name);
        ++selected;
        utilities::write_state_change_request(m_send_buffer, client.request_id, state);
        try
        {
            socket->sendl(m_send_buffer.data(), m_send_buffer.size(), 0);
        }
        catch (const std::system_error& error)
        {
            for (auto& connection : m_connections)
            {
                if (connection.socket == socket)
                {
                    drop_connection(connection, Peer_message::send_failed, "cannot send to client: ", error.what());
                }
            }
        }
    }
    if (selected == 0)
    {
        tell_observer(Callback_status::success);
        m_current->callback(Callback_status::success, Result_map{});
        m_current.reset();
        return;
    }
    if (m_drops)
    {
        delete_hangup_clients();
        call_callback_after_all_clients_responded();
    }
}

void Server::process_client_responses()
{
    std::lock_guard<std::mutex> lock(m_shared.clients_mutex);
    for (std::size_t index = 0; index < m_connections.size(); ++index)
    {
        const auto revents = fd_of(index).revents;
        auto& connection = m_connections[index];
        if (revents == 0 || connection.client == nullptr || connection.drop)
        {
            continue;
        }
        if ((revents & s_hangup_events) != 0)
        {
            if (connection.reader.has_partial_frame())
            {
                drop_connection(connection,
                                Peer_message::hung_up_mid_frame,
                                "client hung up in the middle of a frame: ",
                                utilities::log_text(connection.client->name));
            }
            else
            {
                drop_connection(connection, Peer_message::disconnected, nullptr, "");
            }
        }
        else if ((revents & POLLIN) != 0)
        {
            read_responses(connection);
        }
    }
    delete_hangup_clients();
    call_callback_after_all_clients_responded();
}

void Server::read_responses(Connection& connection)
{
    try
    {
        if (!connection.reader.read_available(*connection.socket))
        {
            return;
        }
        while (!connection.drop && connection.reader.next_frame(m_view))
        {
            handle_response(connection);
        }
    }
    catch (const utilities::ExceptionSocketClosed&)
    {
        if (connection.reader.has_partial_frame())
        {
            drop_connection(connection,
                            Peer_message::hung_up_mid_frame,
                            "client hung up in the middle of a frame: ",
                            utilities::log_text(connection.client->name));
        }
        else
        {
            drop_connection(connection, Peer_message::disconnected, nullptr, "");
        }
    }
    catch (const utilities::Exception_bad_frame& error)
    {
        drop_connection(
            connection, Peer_message::bad_frame, "client sent a frame that breaks the protocol: ", error.what());
    }
    catch (const std::system_error& error)
    {
        drop_connection(connection, Peer_message::receive_failed, "cannot receive from client: ", error.what());
    }
}

void Server::handle_response(Connection& connection)
{
    if (m_view.count < 3)
    {
        throw utilities::Exception_bad_frame("response with " + std::to_string(m_view.count) + " elements from " +
                                             utilities::log_text(connection.client->name));
    }
    auto& client = *connection.client;
    const auto id = m_view.elements[0].get_uint32();
    const auto& state = m_view.elements[1];
    const auto code = static_cast<Component_client_return_type>(m_view.elements[2].get_uint32() & 0xFFU);
    if (id != client.request_id)
    {
        m_client_status_callback(client.name, Client_status::unexpected_state_change, state.get_string());
        return;
    }
    const auto pending = m_pending_names.find(client.name);
    if (pending != m_pending_names.end())
    {
        m_results[client.name] = code;
        m_pending_names.erase(pending);
        if (auto* record = record_of(client.name))
        {
            record->outcome = Client_outcome::answered;
            record->code = code;
            record->state = state.get_string();
            record->latency =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_current->requested);
        }
    }
    else if (client.late_observer)
    {
        // The answer to a request that had already timed out for this client.
        const auto observer = std::move(client.late_observer);
        client.late_observer.reset();
        observer->late_answer(
            Client_record{client.name,
                          Client_outcome::answered,
                          code,
                          state.get_string(),
                          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - client.late_requested)});
    }
    if (code == Component_client_return_type::success)
    {
        client.current_state.assign(reinterpret_cast<const char*>(state.data), state.size);
        if (client.current_state != client.requested_state)
        {
            m_client_status_callback(client.name, Client_status::unexpected_state_change, client.current_state);
        }
    }
}

void Server::drop_connection(Connection& connection, Peer_message kind, const char* reason, const std::string& detail)
{
    if (connection.drop)
    {
        return;
    }
    if (reason != nullptr)
    {
        const auto verdict = may_log(kind, connection.log_key);
        if (verdict.pass)
        {
            auto stream = log(ara::log::LogLevel::kWarn);
            if (connection.client != nullptr)
            {
                stream << "client " << utilities::log_text(connection.client->name) << ": ";
            }
            stream << reason << detail << verdict;
        }
    }
    if (connection.client == nullptr)
    {
        --m_waiting;
    }
    connection.drop = true;
    m_drops = true;
}

void Server::delete_hangup_clients()
{
    if (!m_drops)
    {
        return;
    }
    m_drops = false;
    std::size_t kept = 0;
    for (std::size_t index = 0; index < m_connections.size(); ++index)
    {
        auto& connection = m_connections[index];
        if (!connection.drop)
        {
            if (kept != index)
            {
                m_connections[kept] = std::move(connection);
                fd_of(kept) = fd_of(index);
            }
            ++kept;
            continue;
        }
        if (connection.client == nullptr)
        {
            continue;
        }
        const auto& name = connection.client->name;
        const auto verdict = may_log(Peer_message::disconnected, connection.log_key);
        if (verdict.pass)
        {
            log(ara::log::LogLevel::kInfo) << "client disconnected: " << utilities::log_text(name) << verdict;
        }
        m_results.erase(name);
        if (m_pending_names.erase(name) != 0)
        {
            if (auto* record = record_of(name))
            {
                record->outcome = Client_outcome::dropped;
                record->latency =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_current->requested);
            }
        }
        m_shared.clients.erase(connection.socket);
        --m_registered;
        if (const auto of_uid = m_registered_per_uid.find(connection.peer.uid); of_uid != m_registered_per_uid.end())
        {
            if (--of_uid->second == 0)
            {
                m_registered_per_uid.erase(of_uid);
            }
        }
    }
    m_connections.resize(kept);
    m_fds.resize(kept + s_first_client_index);
}

void Server::call_callback_after_all_clients_responded()
{
    if (!m_current || !m_pending_names.empty())
    {
        return;
    }
    log(ara::log::LogLevel::kDebug) << "calling callback after all clients responded in time";
    const auto status = get_overall_status(m_results);
    tell_observer(status);
    m_current->callback(status, m_results);
    m_current.reset();
}

void Server::process_timeout()
{
    auto results = m_results;
    for (const auto& name : m_pending_names)
    {
        results[name] = Component_client_return_type::timed_out;
    }
    if (m_current->observer)
    {
        const auto now = Clock::now();
        for (const auto& name : m_pending_names)
        {
            if (auto* record = record_of(name))
            {
                record->latency = std::chrono::duration_cast<std::chrono::milliseconds>(now - m_current->requested);
            }
        }
        // Those still awaited may answer later; their observer hears of it.
        std::lock_guard<std::mutex> lock(m_shared.clients_mutex);
        for (auto& entry : m_shared.clients)
        {
            if (m_pending_names.count(entry.second.name) != 0)
            {
                entry.second.late_observer = m_current->observer;
                entry.second.late_requested = m_current->requested;
            }
        }
    }
    m_pending_names.clear();
    log(ara::log::LogLevel::kDebug) << "calling callback after some clients timed out";
    tell_observer(Callback_status::timeout);
    auto request = std::move(m_current);
    request->callback(Callback_status::timeout, results);
}

void Server::tell_observer(Callback_status status)
{
    if (!m_current || !m_current->observer)
    {
        return;
    }
    Request_record record{m_current->state, status, m_current->requested, Clock::now(), std::move(m_records)};
    m_records.clear();
    m_current->observer->request_completed(record);
}

Client_record* Server::record_of(const std::string& name)
{
    if (!m_current || !m_current->observer)
    {
        return nullptr;
    }
    for (auto& record : m_records)
    {
        if (record.name == name)
        {
            return &record;
        }
    }
    return nullptr;
}

void Server::close_late_hellos(Clock::time_point now)
{
    // In order of connection: the first one still waiting is the one due first.
    for (std::size_t index = 0; index < m_connections.size() && m_waiting > 0; ++index)
    {
        auto& connection = m_connections[index];
        if (connection.client != nullptr || connection.drop)
        {
            continue;
        }
        if (connection.hello_deadline > now)
        {
            break;
        }
        drop_connection(connection,
                        Peer_message::late_hello,
                        "closing connection that sent no complete hello within ",
                        std::to_string(m_options.hello_timeout.count()) + " ms");
    }
    if (m_drops)
    {
        std::lock_guard<std::mutex> lock(m_shared.clients_mutex);
        delete_hangup_clients();
    }
}

void thread_main_exception_handling(Socket wakeup,
                                    Client_status_callback client_status_callback,
                                    Client_states_shared& shared,
                                    Server_options options)
{
    Server server(std::move(wakeup), std::move(client_status_callback), shared, std::move(options));
    bool crashed = false;
    try
    {
        server.thread_main();
    }
    catch (const std::exception& error)
    {
        crashed = true;
        // Refuse new requests before telling anyone of the crash: whoever reads the line and
        // then asks must get Exception_server_stopped, not a request that nobody serves.
        server.mark_stopped();
        log(ara::log::LogLevel::kWarn) << "Client_states_impl thread crashed: " << error.what();
    }
    server.finish(crashed);
}

} // namespace

std::unique_ptr<Client_states> create_client_states(const std::string& default_state,
                                                    Client_status_callback client_status_callback,
                                                    const Server_options& options)
{
    return std::make_unique<Client_states_impl>(default_state, std::move(client_status_callback), options);
}

Client_states_impl::Client_states_impl(std::string default_state,
                                       Client_status_callback client_status_callback,
                                       Server_options options)
{
    if (!client_status_callback)
    {
        throw std::bad_function_call();
    }
    m_shared.default_state = std::move(default_state);
    auto sockets = utilities::socket_pair();
    m_wakeup = std::move(sockets.first);
    m_thread = std::thread(thread_main_exception_handling,
                           std::move(sockets.second),
                           std::move(client_status_callback),
                           std::ref(m_shared),
                           std::move(options));
    // Whoever learns that the server exists (the state manager reports its readiness after
    // creating it) may connect at once.
    std::unique_lock<std::mutex> lock(m_shared.pending_request_mutex);
    m_shared.server_started.wait(lock, [this] { return m_shared.listening || m_shared.server_stopped; });
}

Client_states_impl::~Client_states_impl()
{
    try
    {
        std::lock_guard<std::mutex> lock(m_wakeup_mutex);
        utilities::send_type_length_values(m_wakeup, utilities::create_terminate_command());
    }
    catch (const std::exception& error)
    {
        log(ara::log::LogLevel::kWarn) << error.what();
    }
    try
    {
        if (m_thread.joinable())
        {
            m_thread.join();
        }
    }
    catch (const std::exception& error)
    {
        log(ara::log::LogLevel::kWarn) << error.what();
    }
}

std::vector<std::pair<std::string, std::string>> Client_states_impl::get_connected_clients() const
{
    std::lock_guard<std::mutex> lock(m_shared.clients_mutex);
    std::vector<std::pair<std::string, std::string>> clients;
    clients.reserve(m_shared.clients.size());
    for (const auto& entry : m_shared.clients)
    {
        clients.emplace_back(entry.second.name, entry.second.current_state);
    }
    return clients;
}

void Client_states_impl::set_default_state(std::string state)
{
    std::lock_guard<std::mutex> lock(m_shared.default_state_mutex);
    m_shared.default_state = std::move(state);
}

void Client_states_impl::request_state_change(const std::string& state,
                                              Filter filter,
                                              Completion_callback callback,
                                              const std::chrono::seconds& timeout)
{
    request_state_change_observed(state, std::move(filter), std::move(callback), timeout, nullptr);
}

void Client_states_impl::request_state_change_observed(const std::string& state,
                                                       Filter filter,
                                                       Completion_callback callback,
                                                       const std::chrono::seconds& timeout,
                                                       std::shared_ptr<Request_observer> observer)
{
    if (!filter || !callback)
    {
        throw std::bad_function_call();
    }
    const auto now = Clock::now();
    auto request = std::make_unique<State_change_request>(
        State_change_request{state, std::move(filter), std::move(callback), now + timeout, now, std::move(observer)});

    std::lock_guard<std::mutex> lock(m_shared.pending_request_mutex);
    if (m_shared.server_stopped)
    {
        throw Exception_server_stopped("client states server has ended; request for " + state + " not sent");
    }
    // One command announces a pending request; a request that replaces one still pending
    // rides on the command already sent. So at most one command is ever in flight and the
    // sender never blocks on a full socket while it holds this lock.
    const bool announce = !m_shared.pending_request;
    m_shared.pending_request = std::move(request);
    if (!announce)
    {
        return;
    }
    std::lock_guard<std::mutex> wakeup_lock(m_wakeup_mutex);
    try
    {
        utilities::send_type_length_values(m_wakeup, create_state_change_request_added_message());
    }
    catch (...)
    {
        m_shared.pending_request.reset();
        throw;
    }
}

utilities::Elements create_state_change_request(std::uint32_t request_id, const std::string& state)
{
    return utilities::Elements{utilities::Type_length_value(request_id), utilities::Type_length_value(state)};
}

utilities::Elements create_state_change_request_added_message()
{
    return utilities::Elements{utilities::Type_length_value(utilities::get_state_change_request_added())};
}

Callback_status get_overall_status(const Result_map& results)
{
    for (const auto& entry : results)
    {
        if (entry.second != Component_client_return_type::success)
        {
            return Callback_status::error;
        }
    }
    return Callback_status::success;
}

bool is_name_duplicated(const Client_map& clients, const std::string& name)
{
    return std::any_of(
        clients.begin(), clients.end(), [&name](const auto& entry) { return entry.second.name == name; });
}

} // namespace client_state_notifier
