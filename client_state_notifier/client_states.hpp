#pragma once

#include "client_state_notifier/peer_log_limiter.hpp"
#include "client_state_notifier/utilities.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace client_state_notifier
{

/// Why the client-status callback is called.
enum class Client_status : std::uint32_t
{
    name_already_connected = 0,
    unexpected_state_change = 1
};

/// Outcome of one state change request.
enum class Callback_status : std::uint32_t
{
    success = 0,
    timeout = 1,
    error = 2
};

/// Answer of one client; the low byte of element [2] of its response. Values beyond 3 are
/// stored as they come and count as not successful.
enum class Component_client_return_type : std::uint8_t
{
    success = 0,
    general_error = 1,
    invalid = 2,
    timed_out = 3
};

using Result_map = std::map<std::string, Component_client_return_type>;
/// (client name, status, state text the client sent); called on the server thread with the clients
/// lock held.
using Client_status_callback = std::function<void(const std::string&, Client_status, const std::string&)>;
/// (outcome, result map); called on the server thread with the clients lock held, except for a
/// timeout: that completion runs with no lock held.
using Completion_callback = std::function<void(Callback_status, const Result_map&)>;
/// True selects the named client as a receiver of a request.
using Filter = std::function<bool(const std::string&)>;

/// How a selected client's part in one request ended.
enum class Client_outcome : std::uint8_t
{
    answered = 0,  ///< answered with the request's id before the deadline; the code says how
    timed_out = 1, ///< had not answered at the deadline
    dropped = 2    ///< its connection ended, or was closed by the server, before it answered
};

/// What one selected client did with one request.
struct Client_record
{
    std::string name;
    Client_outcome outcome{Client_outcome::timed_out};
    /// The code of the answer; timed_out without one.
    Component_client_return_type code{Component_client_return_type::timed_out};
    /// The state the answer named, as the client sent it; empty without an answer.
    std::string state;
    /// From the request_state_change call to the answer, the deadline or the end of the connection.
    std::chrono::milliseconds latency{0};
};

/// One completed request with every client it selected, in the order they were asked.
struct Request_record
{
    std::string state;
    Callback_status status{Callback_status::success};
    /// When request_state_change was called, and when the request completed.
    std::chrono::steady_clock::time_point requested;
    std::chrono::steady_clock::time_point completed;
    std::vector<Client_record> clients;
};

/// Learns, besides the result map, how each client of a request answered and when. Given to
/// request_state_change_observed; its operations run on the server thread.
class Request_observer
{
  public:
    virtual ~Request_observer() = default;

    /// Once per request that completes, right before its completion callback (with the same locks
    /// held, so it must not call back into the server). Not for requests dropped without a callback.
    virtual void request_completed(const Request_record& record) = 0;

    /// A client that had not answered at the deadline answered afterwards, before it was asked
    /// anything else: the record's outcome is answered and its latency counts from the request.
    /// At most once per such client, any time after request_completed, or never.
    virtual void late_answer(const Client_record& record) = 0;

  protected:
    Request_observer() = default;
    Request_observer(const Request_observer&) = default;
    Request_observer& operator=(const Request_observer&) = default;
};

/// The server thread has ended (it could not bind its socket, or it crashed), so a request
/// cannot be handed to it. No completion callback will come for that request.
class Exception_server_stopped : public std::runtime_error
{
  public:
    using std::runtime_error::runtime_error;
};

/// The server side of the notification socket: keeps every connected client with the state
/// it reported, sends state change requests to a group of them and reports the outcome.
class Client_states
{
  public:
    virtual ~Client_states() = default;

    /// (name, current state) of every connected client in ascending descriptor order.
    /// Any thread except a callback of this object (most of them run with the clients lock held).
    virtual std::vector<std::pair<std::string, std::string>> get_connected_clients() const = 0;
    /// The state expected of clients that connect from now on; a client reporting another
    /// state is asked at once to enter it. Caller's thread.
    virtual void set_default_state(std::string state) = 0;
    /// Asks every connected client that filter selects to enter state and reports the outcome
    /// once through callback on the server thread: success, error (someone answered with a
    /// failure or all answered/disconnected) or timeout (deadline = now + timeout). A request
    /// not yet taken by the server is replaced by this one without a callback. Returns at once.
    /// Throws std::bad_function_call for an empty filter or callback, Exception_server_stopped
    /// when the server thread has ended; in both cases no callback follows.
    virtual void request_state_change(const std::string& state,
                                      Filter filter,
                                      Completion_callback callback,
                                      const std::chrono::seconds& timeout) = 0;
    /// request_state_change whose observer also learns each selected client's answer and latency,
    /// and answers that come after the deadline. Without an observer (or in a server that keeps no
    /// records) it is request_state_change. Caller's thread; throws what request_state_change throws.
    virtual void request_state_change_observed(const std::string& state,
                                               Filter filter,
                                               Completion_callback callback,
                                               const std::chrono::seconds& timeout,
                                               // Overrides keep the observer; this default ignores it.
                                               // NOLINTNEXTLINE(performance-unnecessary-value-param)
                                               std::shared_ptr<Request_observer> observer)
    {
        (void)observer;
        request_state_change(state, std::move(filter), std::move(callback), timeout);
    }
};

/// Where and how the server listens, and how much a client may make it hold.
struct Server_options
{
    std::string socket_path{utilities::get_socket_path()};
    /// A connection that has not sent a complete hello message by then is closed.
    std::chrono::milliseconds hello_timeout{std::chrono::seconds(3)};
    /// New connections taken per poll round; more wait in the listen backlog for the next round.
    std::size_t max_accepts_per_round{16};
    /// Connections waiting for their hello; one more closes the oldest of them.
    std::size_t max_waiting_for_hello{64};
    /// Registered clients; a connection beyond them is closed at once.
    std::size_t max_clients{128};
    /// Registered clients of one uid other than root, so that one user's processes cannot
    /// take every place; a connection beyond them is closed at once.
    std::size_t max_clients_per_uid{64};
    /// How often each kind of message that clients cause is logged.
    utilities::Log_limits log_limits{};
};

/// Starts a server on options.socket_path (default: the notification socket) and returns once it
/// listens there (or its thread has ended, when it cannot). An empty client-status callback
/// throws std::bad_function_call.
std::unique_ptr<Client_states> create_client_states(const std::string& default_state,
                                                    Client_status_callback client_status_callback,
                                                    const Server_options& options = Server_options{});

} // namespace client_state_notifier
