#pragma once

#include "statemanager/status/holder_recorder_interface.hpp"
#include "statemanager/status/machine_recorder_interface.hpp"
#include "statemanager/status/round_recorder_interface.hpp"
#include "statemanager/status/status_publisher_interface.hpp"
#include "statemanager/status/status_source_interface.hpp"
#include "statemanager/status/status_types.hpp"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace vela::ap::statemanager::status
{

/// The daemon's read-only status: the holders of requests and the NM side (recorded by the
/// service handler and the NM client), the current state and a bounded history of transition
/// reports (recorded by the main loop), and the notification steps of the current state
/// (recorded by the state notifier). Everything is gathered where it happens; the board never
/// asks anyone. The status service reads copies of it.
///
/// Bounds (a client of the notification socket names itself, and an NM peer chooses the length of
/// its NetworkState): 64 reports, 16 steps and 128 client rows per report, client names shown in at
/// most 48 bytes and answered states in at most 16 (bytes outside printable ASCII as \xNN, longer
/// texts cut and marked "..."), NetworkState and NM patterns of at most 32 bytes, 1024 holders. So
/// the whole history fits one middleware frame.
class Status_board final : public Holder_recorder_interface,
                           public Machine_recorder_interface,
                           public Round_recorder_interface,
                           public Status_source_interface
{
  public:
    static constexpr std::size_t s_history_size = 64;
    static constexpr std::size_t s_max_steps = 16;
    static constexpr std::size_t s_max_rows = 128;
    static constexpr std::size_t s_max_name_bytes = 48;
    static constexpr std::size_t s_max_state_bytes = 16;
    static constexpr std::size_t s_max_nm_bytes = 32;
    static constexpr std::size_t s_max_holders = 1024;

    /// nm_used: "StateManagerNMUsage". The machine is in "Starting up" from now on.
    explicit Status_board(bool nm_used);

    Status_board(const Status_board&) = delete;
    Status_board& operator=(const Status_board&) = delete;

    /// Where each state change goes once recorded (the status service); nullptr for nowhere. Main
    /// thread, before the loop runs and after it has ended.
    void set_publisher(Status_publisher_interface* publisher);

    void holder_changed(Holder_kind kind,
                        const std::string& instance,
                        bool active,
                        const std::vector<std::uint8_t>& cab_bits,
                        std::uint8_t ac) override;
    void nm_call(Nm_call call, const std::vector<std::uint8_t>& bytes) override;
    void network_state_received(const std::vector<std::uint8_t>& value) override;
    void ecu_state_changed(std::uint8_t state) override;
    void nm_services_found() override;
    void nm_sending_changed(bool sending) override;

    void transition(const Transition_facts& facts) override;
    void knockout_changed(std::uint32_t left, std::uint32_t initial) override;

    void step_completed(const Step_record& step) override;
    void late_answer(std::uint64_t serial,
                     const std::string& name,
                     std::uint8_t code,
                     const std::string& state,
                     std::uint32_t latency_ms) override;

    State_value current_state() const override;
    Holders_reply holders() const override;
    std::vector<Transition_report> history() const override;

    /// The one-line summary logged for a report: from, to, cause, total ms and the slowest client.
    static std::string summary(const Transition_report& report);

    /// text as a report or log shows a peer's text: printable ASCII as it is, other bytes (and the
    /// backslash and the double quote) as \xNN, at most max_bytes of that, then "..." when cut.
    static std::string shown_text(const std::string& text, std::size_t max_bytes);

  private:
    State_value state_value_locked() const;
    /// Moves the steps requested before since, and their rows, into report; the later ones (the
    /// new state's entry asked for them) stay for the next report.
    void take_steps_locked(std::chrono::steady_clock::time_point since, Transition_report& report);
    /// The row of client name in the step with this serial, among the pending steps and the
    /// reports; nullptr when it is gone.
    Client_row* find_row(std::uint64_t serial, const std::string& name);

    // Set on the main thread while no state change can be published.
    Status_publisher_interface* m_publisher{nullptr};

    // Guards everything below. Met by the main thread (transitions, knock-out, standby), the
    // middleware workers running application requests and NM notifications (holders, NM), the
    // notification server thread (steps, late answers) and the status service's workers (reads).
    // Nobody calls out while holding it, so it never waits for another lock.
    mutable std::mutex m_mutex;
    std::uint8_t m_state{0};
    std::chrono::steady_clock::time_point m_state_since;
    std::uint64_t m_state_since_wall_ms{0};
    std::vector<Holder> m_holders;
    std::uint32_t m_holders_omitted{0};
    Nm_view m_nm;
    std::uint32_t m_knockout_left{0};
    std::uint32_t m_knockout_initial{0};
    // The steps completed since the last change, when each was requested, and their rows.
    std::vector<Step_total> m_steps;
    std::vector<std::chrono::steady_clock::time_point> m_step_requested;
    std::vector<Client_row> m_rows;
    std::uint32_t m_rows_omitted{0};
    std::deque<Transition_report> m_history;
    std::uint32_t m_serial{0};
};

} // namespace vela::ap::statemanager::status
