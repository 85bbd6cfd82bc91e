#pragma once

#include "client_state_notifier/client_states.hpp"
#include "client_state_notifier/client_states_impl.hpp"
#include "client_state_notifier/frame_reader.hpp"
#include "client_state_notifier/peer_log_limiter.hpp"
#include "client_state_notifier/socket.hpp"
#include "client_state_notifier/utilities.hpp"
#include "tarn1/log_limit/log_rate_limiter.hpp"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <vector>

namespace client_state_notifier
{

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
    Server(utilities::Socket wakeup,
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

    /// The poll loop: returns at the terminate command, throws when serving fails.
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
    using Clock = std::chrono::steady_clock;

    // The poll list: [listening, wake-up, connections in order of connection].
    static constexpr std::size_t s_listening_index = 0;
    static constexpr std::size_t s_wakeup_index = 1;
    static constexpr std::size_t s_first_client_index = 2;

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
        std::unique_ptr<utilities::Socket> unregistered;
        const utilities::Socket* socket{nullptr};
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
    /// A client that hung up: in the middle of a frame that breaks the protocol, else it simply left.
    void drop_hung_up(Connection& connection);
    void handle_response(Connection& connection);
    /// Completes the current request at its deadline; its callbacks run with no lock held.
    void process_timeout();
    std::int32_t calculate_timeout(Clock::time_point now) const;
    void close_late_hellos(Clock::time_point now);
    void drop_connection(Connection& connection, Peer_message kind, const char* reason, const std::string& detail);
    /// Removes the connections marked for dropping; the caller holds the clients mutex.
    void delete_hangup_clients();
    void call_callback_after_all_clients_responded();
    void send_request(Connection& connection, const std::string& state);
    /// Ends the current request: its observer's request_completed, then its completion callback.
    /// The one lock rule of every callback: the clients mutex is held, except while process_timeout
    /// completes a request at its deadline, which holds no lock. Every caller but process_timeout
    /// holds the clients mutex.
    void complete(Callback_status status, const Result_map& results);
    /// Completes the current request with error after the server thread crashed; under the
    /// clients mutex. What a callback throws then is logged.
    void complete_after_crash(const Result_map& results) noexcept;
    /// The record of the named client in the current request, when its observer keeps records.
    Client_record* record_of(const std::string& name);
    utilities::Peer_log_limiter::Verdict may_log(Peer_message kind, std::uint64_t key)
    {
        return m_log_limiters[static_cast<std::size_t>(kind)]->check(key);
    }

    utilities::Socket m_listening;
    utilities::Socket m_wakeup;
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

    std::unique_ptr<State_change_request> m_current;
    Pending_names m_pending_names;
    Result_map m_results;
    /// One per client the current request selected, in the order they were asked; kept only when
    /// the request has an observer.
    std::vector<Client_record> m_records;
    utilities::Bytes m_send_buffer;
    utilities::Frame_view m_view;
};

/// The server thread's body: serves until the terminate command; when serving fails, logs the
/// crash and completes with error what had been handed over.
void thread_main_exception_handling(utilities::Socket wakeup,
                                    Client_status_callback client_status_callback,
                                    Client_states_shared& shared,
                                    Server_options options);

} // namespace client_state_notifier
