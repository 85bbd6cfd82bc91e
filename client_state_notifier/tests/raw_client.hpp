#pragma once

#include "client_state_notifier/client_states.hpp"
#include "client_state_notifier/frame_reader.hpp"
#include "client_state_notifier/socket.hpp"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace client_state_notifier::testing
{

using namespace std::chrono_literals;

/// A hand-driven client on a real connection: sends exactly the bytes a test chooses.
class Raw_client
{
  public:
    struct Request
    {
        std::uint32_t id;
        std::string state;
    };

    /// Connects to path, waiting up to 5 s for the server.
    explicit Raw_client(const std::string& path);

    void send_hello(const std::string& name, const std::string& state);
    void answer(std::uint32_t id, const std::string& state, std::uint32_t code);
    void send_bytes(const utilities::Bytes& bytes);
    /// The next state change request, or none within timeout.
    std::optional<Request> receive_request(std::chrono::milliseconds timeout = 5s);
    /// True when nothing arrives within timeout.
    bool receives_nothing(std::chrono::milliseconds timeout);
    /// True when the server closes the connection within timeout (pending requests are skipped).
    bool closed_by_server(std::chrono::milliseconds timeout);
    void close() { m_socket = utilities::Socket(); }

  private:
    utilities::Socket m_socket;
    utilities::Frame_reader m_reader;
    utilities::Frame_view m_view;
};

/// Collects what the server reports through its callbacks (server thread) for the test thread.
class Callback_recorder
{
  public:
    struct Completion
    {
        std::string tag;
        Callback_status status;
        Result_map results;
    };
    struct Status_event
    {
        std::string name;
        Client_status status;
        std::string state;
    };

    Completion_callback completion_callback(std::string tag = "");
    Client_status_callback status_callback();

    std::optional<Completion> wait_completion(std::chrono::milliseconds timeout = 5s);
    bool wait_status_events(std::size_t count, std::chrono::milliseconds timeout = 5s);
    std::vector<Completion> completions() const;
    std::vector<Status_event> status_events() const;

    /// While closed, the status callback blocks the server thread until the gate opens.
    void close_gate();
    void open_gate();
    bool wait_blocked(std::chrono::milliseconds timeout = 5s);

  private:
    // Guards everything below: the server thread writes, the test thread reads.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Completion> m_completions;
    std::size_t m_taken{0};
    std::vector<Status_event> m_status_events;
    bool m_gate_closed{false};
    bool m_blocked{false};
};

/// N of a log line ending in " (N similar messages suppressed)", else 0.
std::size_t held_back_count(const std::string& text);

/// Waits for predicate, checking every millisecond, at most timeout.
bool wait_until(const std::function<bool()>& predicate, std::chrono::milliseconds timeout = 5s);

/// Selects every client.
inline bool everyone(const std::string&)
{
    return true;
}

} // namespace client_state_notifier::testing
