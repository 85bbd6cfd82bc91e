#pragma once

#include "tools/simulator/journal.hpp"

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace tarn1::simulator
{

/// What the interactive console shows, built from the journal's events: the VM status words, the
/// restart commands, the power-off commands, the UDP NM side, the notification clients, who keeps
/// the machine awake and the last notification round with each client's latency (from the daemon's
/// status service), the two daemons, the hypervisor's keyboard, the log file, and the newest events. Not thread-safe:
/// the console serialises the calls.
class Console_model final
{
  public:
    void on_event(const Event& event);
    /// The whole screen, lines of at most width characters; input is the command being typed
    /// (shown on the prompt line).
    std::string render(std::size_t width, const std::string& input) const;

  private:
    std::vector<std::string> m_status_words;
    std::vector<std::string> m_commands;
    std::vector<std::string> m_poweroff;
    std::string m_nm{"not offered"};
    std::string m_network_state{"-"};
    std::string m_last_request{"-"};
    std::string m_last_release{"-"};
    std::string m_user_data{"-"};
    std::map<std::string, std::string> m_clients;
    std::vector<std::string> m_holders;
    std::string m_last_report;
    std::string m_round_title;
    std::vector<std::string> m_round;
    std::string m_statewarden{"not started"};
    std::string m_iam{"not started"};
    std::string m_keyboard{"-"};
    std::string m_access{"-"};
    std::string m_last_foreign_app{"-"};
    std::string m_log{"-"};
    std::string m_com;
    std::deque<std::string> m_recent;
};

} // namespace tarn1::simulator
