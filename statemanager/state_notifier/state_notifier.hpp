#pragma once

#include "client_state_notifier/client_states.hpp"
#include "statemanager/state_notifier/state_notifier_interface.hpp"
#include "statemanager/status/round_recorder_interface.hpp"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace vela::ap::statemanager::state_notifier
{

/// Creates the client states server that the notifier drives: (default state, client-status
/// callback). Called once, by the notifier's constructor on the main thread.
using Client_states_factory = std::function<std::unique_ptr<client_state_notifier::Client_states>(
    const std::string&, client_state_notifier::Client_status_callback)>;

/// The server on the notification socket "/var/run/adaptive/ara_SM/ara_SM.socket".
Client_states_factory default_client_states_factory();

/// The server on another socket path (tests, tools).
Client_states_factory client_states_factory_for(const std::string& socket_path);

/// Runs the standby sequence ("kPrepSD": DCM, then the applications, then DEM) and the resume
/// sequence ("kOn": DEM, then the applications, then DCM) through the client states server.
/// Each step waits for all answers of its group or for its timeout; the next step is issued by
/// the next check_request_status(). The main thread calls the public operations, the server
/// thread calls the completion and client-status callbacks.
class State_notifier final : public State_notifier_interface
{
  public:
    /// The text of the standby state.
    static constexpr const char* s_standby_state = "kPrepSD";
    /// The text of the resume state, also the state expected of clients at start.
    static constexpr const char* s_resume_state = "kOn";
    static constexpr const char* s_dem_name = "diag::dem";
    static constexpr const char* s_dcm_name = "diag::dcm";

    /// Creates the server with the default state "kOn". A server that cannot be created is
    /// logged; every step then ends at once with status error. log_limits bounds how often the
    /// clients' erroneous reports are logged. recorder, when given, learns of every step that
    /// steers a sequence how each client answered and when, and of answers after the deadline.
    State_notifier(std::chrono::seconds app_timeout,
                   std::chrono::seconds dm_timeout,
                   const Client_states_factory& client_states_factory = default_client_states_factory(),
                   const utilities::Log_limits& log_limits = utilities::Log_limits{},
                   std::shared_ptr<status::Round_recorder_interface> recorder = nullptr);
    /// Stops the server (joining its thread) before anything its callbacks touch goes away.
    ~State_notifier() override;

    State_notifier(const State_notifier&) = delete;
    State_notifier& operator=(const State_notifier&) = delete;

    void request_standby() override;
    void request_resume() override;
    bool check_request_status() override;

    /// The result maps of each group's last completed step (copies taken under the lock).
    client_state_notifier::Result_map get_app_clients_status() const;
    client_state_notifier::Result_map get_dem_clients_status() const;
    client_state_notifier::Result_map get_dcm_clients_status() const;

  private:
    /// One of the three groups that a step addresses.
    enum class Group : std::uint8_t
    {
        dcm,
        applications,
        dem
    };

    // The steps and checks below run with m_mutex held.
    void notify_dcm();
    void notify_dem();
    void notify_apps();
    void notify(Group group);
    void check_application_request_status();
    void check_dm_request_status();
    /// What a completion callback does once it holds m_mutex; serial names the step it answers,
    /// record (when the server kept one) tells how each client answered.
    void complete(Group group,
                  std::uint64_t serial,
                  client_state_notifier::Callback_status status,
                  const client_state_notifier::Result_map& results,
                  const client_state_notifier::Request_record* record);
    /// Tells the recorder of a completed step that steers the sequence.
    void record_step(Group group,
                     std::uint64_t serial,
                     client_state_notifier::Callback_status status,
                     const client_state_notifier::Request_record* record) const;
    static void log_clients(const client_state_notifier::Result_map& results);
    /// The client-status callback (server thread): logs the report unless the limiter holds it back.
    void
    log_client_status(const std::string& name, client_state_notifier::Client_status status, const std::string& state);

    std::string& requested_state_of(Group group);
    bool& done_flag_of(Group group);
    client_state_notifier::Result_map& results_of(Group group);

    std::chrono::seconds m_app_timeout;
    std::chrono::seconds m_dm_timeout;
    // Used by the server thread only (the client-status callback); thread safe in themselves.
    utilities::Peer_log_limiter m_duplicate_name_log;
    utilities::Peer_log_limiter m_unexpected_state_log;
    // Records only; called under m_mutex and from the server thread.
    std::shared_ptr<status::Round_recorder_interface> m_recorder;
    std::unique_ptr<client_state_notifier::Client_states> m_client_states;

    // The main thread (request_standby, request_resume, check_request_status and the getters)
    // and the server thread (the completion callbacks) meet here. The steps call into the
    // server while holding it; the server calls the completion callbacks with its clients lock
    // held, never the other way round.
    mutable std::mutex m_mutex;
    bool m_sequence_active{false};
    std::string m_target_state;
    client_state_notifier::Result_map m_app_results;
    client_state_notifier::Result_map m_dem_results;
    client_state_notifier::Result_map m_dcm_results;
    bool m_dcm_done{false};
    bool m_apps_done{false};
    bool m_dem_done{false};
    std::string m_dcm_requested_state;
    std::string m_app_requested_state;
    std::string m_dem_requested_state;
    /// Number of the last step issued; a completion of any earlier step is stale and ignored.
    std::uint64_t m_serial{0};
};

} // namespace vela::ap::statemanager::state_notifier
