#pragma once

#include "client_state_notifier/client_states.hpp"
#include "statemanager/state_notifier/state_notifier_interface.hpp"
#include "statemanager/status/round_recorder_interface.hpp"

#include <array>
#include <chrono>
#include <cstddef>
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
    /// One of the three groups that a step addresses; also the index of its row in m_groups and
    /// in the table of group steps.
    enum class Group : std::uint8_t
    {
        dcm,
        applications,
        dem
    };
    static constexpr std::size_t s_group_count = 3;

    /// A sequence: the state it carries and the order of its groups.
    struct Sequence
    {
        const char* state;
        std::array<Group, s_group_count> order;
    };
    static const Sequence s_standby;
    static const Sequence s_resume;

    /// What the notifier knows of one group. Under m_mutex.
    struct Group_progress
    {
        /// The sequence whose state was last requested from the group (none before the first).
        const Sequence* requested{nullptr};
        /// The group's completion has arrived and has not been acted on yet.
        bool done{false};
        /// The result map of the group's last completed step.
        client_state_notifier::Result_map results;
    };

    // The steps and checks below run with m_mutex held.
    /// Issues the step of group with the target state.
    void notify(Group group);
    /// Acts on the completion of group, if one waits: the same group again when the target
    /// changed while it ran, else the next group of the target's order. False when none waited.
    bool advance(Group group);
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

    Group_progress& progress_of(Group group) { return m_groups[static_cast<std::size_t>(group)]; }
    const Group_progress& progress_of(Group group) const { return m_groups[static_cast<std::size_t>(group)]; }

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
    /// The sequence being run or last run (none before the first request).
    const Sequence* m_target{nullptr};
    std::array<Group_progress, s_group_count> m_groups;
    /// Number of the last step issued; a completion of any earlier step is stale and ignored.
    std::uint64_t m_serial{0};
};

} // namespace vela::ap::statemanager::state_notifier
