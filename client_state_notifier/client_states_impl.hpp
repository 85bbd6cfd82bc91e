#pragma once

#include "client_state_notifier/client_states.hpp"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace client_state_notifier
{

/// One request as the caller handed it over.
struct State_change_request
{
    std::string state;
    Filter filter;
    Completion_callback callback;
    std::chrono::steady_clock::time_point deadline;
    /// When the request was made; latencies count from here.
    std::chrono::steady_clock::time_point requested;
    /// Learns each client's answer; may be empty.
    std::shared_ptr<Request_observer> observer;
};

/// Orders client records by descriptor.
struct Socket_comparator
{
    bool operator()(const utilities::Socket* lhs, const utilities::Socket* rhs) const noexcept
    {
        return lhs->get_fd() < rhs->get_fd();
    }
};

/// One connected client (hello received).
struct Client_state
{
    std::unique_ptr<utilities::Socket> socket;
    std::string name;
    /// 1 after connecting, plus 1 for every request sent to this client.
    std::uint32_t request_id{1};
    std::string requested_state;
    std::string current_state;
    /// The observer of the request this client had not answered at its deadline, until the client
    /// answers it late or is asked something else.
    std::shared_ptr<Request_observer> late_observer;
    std::chrono::steady_clock::time_point late_requested;
};

using Client_map = std::map<const utilities::Socket*, Client_state, Socket_comparator>;
using Pending_names = std::set<std::string>;

/// What the object and its server thread share, each piece beside the mutex that guards it.
struct Client_states_shared
{
    // Default state: set by the caller threads (set_default_state), copied by the server
    // thread when a client completes its hello. Taken alone.
    std::mutex default_state_mutex;
    std::string default_state;

    // Pending request and the listening and stopped flags: the caller threads store requests,
    // the server thread takes them, sets listening once its socket listens and stopped when it
    // ends; the constructor waits for either. Taken after the clients mutex.
    std::mutex pending_request_mutex;
    std::condition_variable server_started;
    std::unique_ptr<State_change_request> pending_request;
    bool listening{false};
    bool server_stopped{false};

    // Client records: changed by the server thread, read by get_connected_clients on the
    // caller threads. Held by the server thread while it calls the callbacks, all but the
    // completion callback of a timeout.
    mutable std::mutex clients_mutex;
    Client_map clients;
};

class Client_states_impl final : public Client_states
{
  public:
    Client_states_impl(std::string default_state,
                       Client_status_callback client_status_callback,
                       Server_options options);
    ~Client_states_impl() override;

    Client_states_impl(const Client_states_impl&) = delete;
    Client_states_impl& operator=(const Client_states_impl&) = delete;

    std::vector<std::pair<std::string, std::string>> get_connected_clients() const override;
    void set_default_state(std::string state) override;
    void request_state_change(const std::string& state,
                              Filter filter,
                              Completion_callback callback,
                              const std::chrono::seconds& timeout) override;
    void request_state_change_observed(const std::string& state,
                                       Filter filter,
                                       Completion_callback callback,
                                       const std::chrono::seconds& timeout,
                                       std::shared_ptr<Request_observer> observer) override;

  private:
    Client_states_shared m_shared;
    // Sends on m_wakeup: the caller threads (request_state_change) and the destructor. Taken
    // after the pending-request mutex.
    std::mutex m_wakeup_mutex;
    utilities::Socket m_wakeup;
    std::thread m_thread;
};

/// The elements of the state change request message.
utilities::Elements create_state_change_request(std::uint32_t request_id, const std::string& state);
/// The elements of the request-added command.
utilities::Elements create_state_change_request_added_message();
/// error when any result is not success, else success.
Callback_status get_overall_status(const Result_map& results);
/// Whether a connected client already has this name.
bool is_name_duplicated(const Client_map& clients, const std::string& name);

} // namespace client_state_notifier
