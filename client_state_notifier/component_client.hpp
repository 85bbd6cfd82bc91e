#pragma once

#include "client_state_notifier/client_states.hpp"
#include "client_state_notifier/socket.hpp"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace client_state_notifier
{

/// What the application answers to a state change request.
struct State_change_answer
{
    /// The state the application is in after handling the request.
    std::string state;
    Component_client_return_type code{Component_client_return_type::success};
};

/// Handles one state change request (the requested state) on the client's thread and gives
/// the answer. An exception from it is answered with general_error and the unchanged state.
using State_change_handler = std::function<State_change_answer(const std::string&)>;

struct Component_client_options
{
    std::string socket_path{utilities::get_socket_path()};
    /// Pause before connecting again after a connection ended.
    std::chrono::milliseconds reconnect_pause{100};
};

/// The client side of the notification socket, for applications and the diagnostic managers.
/// A thread of its own connects (waiting for the server while there is none), sends the hello
/// with the name and the current state, hands every state change request to the handler and
/// sends its answer, and connects again when the server goes away.
class Component_client
{
  public:
    /// Starts at once. initial_state is the state reported in the first hello; a client that
    /// has no connection is in "kOn" (utilities::get_default_non_connected_state()).
    Component_client(std::string name,
                     State_change_handler handler,
                     std::string initial_state = utilities::get_default_non_connected_state(),
                     Component_client_options options = Component_client_options{});
    /// Stops the thread and closes the connection. Never throws.
    ~Component_client();

    Component_client(const Component_client&) = delete;
    Component_client& operator=(const Component_client&) = delete;

    /// Whether the hello has been sent on the current connection. Any thread.
    bool is_connected() const;
    /// The state last reported to the server (hello or successful answer). Any thread.
    std::string get_state() const;
    /// Waits until connected, or the timeout passes. Any thread.
    bool wait_until_connected(std::chrono::milliseconds timeout) const;

  private:
    void run() noexcept;
    /// Serves one connection; false when told to stop, an exception when the connection ends.
    bool serve(const utilities::Socket& connection);
    void set_connected(bool connected);

    const std::string m_name;
    const State_change_handler m_handler;
    const Component_client_options m_options;

    // State and connection flag: written by the client's thread, read by application threads.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_connected_changed;
    std::string m_state;
    bool m_connected{false};

    // The destructor writes one byte to m_stop_sender; the client's thread polls m_stop.
    utilities::Socket m_stop;
    utilities::Socket m_stop_sender;
    std::thread m_thread;
};

} // namespace client_state_notifier
