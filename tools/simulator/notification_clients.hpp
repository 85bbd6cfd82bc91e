#pragma once

#include "client_state_notifier/component_client.hpp"
#include "tools/simulator/journal.hpp"
#include "tools/simulator/vm_interface.hpp"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarn1::simulator
{

/// A notification client on the client library; answers as its mode says. "client" events: "NAME
/// got STATE", "NAME answered STATE", "NAME answered error".
class Sim_client final
{
  public:
    Sim_client(const std::string& name, Client_mode mode, std::chrono::milliseconds delay, Journal& journal);
    /// Wakes an answer that waits, then disconnects.
    ~Sim_client();

    Sim_client(const Sim_client&) = delete;
    Sim_client& operator=(const Sim_client&) = delete;

    /// How the next requests are answered. Runner thread.
    void set_mode(Client_mode mode, std::chrono::milliseconds delay);

  private:
    /// The client library's thread, once per state change request.
    client_state_notifier::State_change_answer handle(const std::string& requested);

    std::string m_name;
    Journal& m_journal;
    // Guards mode, delay, state and the stop flag; met by the client's thread and the runner.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    Client_mode m_mode;
    std::chrono::milliseconds m_delay;
    std::string m_state{"kOn"};
    bool m_stopping{false};
    std::unique_ptr<client_state_notifier::Component_client> m_client;
};

/// Clients that misbehave on the daemon's notification socket, written byte by byte rather than
/// through the client library. Their connections stay open until close_all().
class Raw_clients final
{
  public:
    explicit Raw_clients(Journal& journal, std::string socket_path = "/var/run/adaptive/ara_SM/ara_SM.socket");
    ~Raw_clients();

    Raw_clients(const Raw_clients&) = delete;
    Raw_clients& operator=(const Raw_clients&) = delete;

    /// Connects a client called name: "partial" sends its hello and then half a frame and nothing
    /// more, "huge" declares a frame far over the limit after its hello, "silent" never says hello.
    /// The journal gets "NAME connected raw (BEHAVIOUR)". Runner thread.
    bool add(const std::string& name, const std::string& behaviour, std::string& error);
    /// Closes every connection. Runner thread.
    void close_all();

  private:
    Journal& m_journal;
    std::string m_socket_path;
    std::vector<int> m_fds;
};

} // namespace tarn1::simulator
