#include "client_state_notifier/server.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <sys/socket.h>
#include <system_error>

namespace client_state_notifier
{

using utilities::get_logger;
using utilities::Socket;
using Clock = std::chrono::steady_clock;

namespace
{

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

std::uint64_t process_key(const utilities::Peer_credentials& peer)
{
    return static_cast<std::uint32_t>(peer.pid);
}

std::uint64_t client_key(const utilities::Peer_credentials& peer, const std::string& name)
{
    return (process_key(peer) << 32U) ^ std::hash<std::string>{}(name);
}

} // namespace

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
    // Nobody will serve these any more: tell their owners rather than leave them waiting. The
    // current request first, then the one handed over but not yet taken.
    std::lock_guard<std::mutex> lock(m_shared.clients_mutex);
    if (m_current)
    {
        for (const auto& name : m_pending_names)
        {
            if (auto* record = record_of(name))
            {
                record->outcome = Client_outcome::dropped;
            }
        }
        complete_after_crash(m_results);
    }
    if (pending)
    {
        m_current = std::move(pending);
        m_records.clear();
        complete_after_crash(Result_map{});
    }
}

void Server::complete_after_crash(const Result_map& results) noexcept
{
    try
    {
        log(ara::log::LogLevel::kWarn) << "completing request for " << m_current->state
                                       << " with error: server thread has ended";
        complete(Callback_status::error, results);
    }
    catch (const std::exception& error)
    {
        log(ara::log::LogLevel::kWarn) << "Client_states_impl thread crashed: " << error.what();
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
        complete(Callback_status::success, Result_map{});
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
            drop_hung_up(connection);
        }
        else if ((revents & POLLIN) != 0)
        {
            read_responses(connection);
        }
    }
    delete_hangup_clients();
    call_callback_after_all_clients_responded();
}

void Server::drop_hung_up(Connection& connection)
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
        drop_hung_up(connection);
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
        // record_of finds a record only while a request is current.
        if (auto* record = record_of(client.name); record != nullptr && m_current)
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
    complete(get_overall_status(m_results), m_results);
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
    complete(Callback_status::timeout, results);
}

void Server::complete(Callback_status status, const Result_map& results)
{
    // Taken out before anyone is told, so that a callback that throws has had its one call: the
    // crash that follows does not complete the request a second time.
    const auto request = std::move(m_current);
    if (request->observer)
    {
        const Request_record record{request->state, status, request->requested, Clock::now(), std::move(m_records)};
        m_records.clear();
        request->observer->request_completed(record);
    }
    request->callback(status, results);
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

} // namespace client_state_notifier
