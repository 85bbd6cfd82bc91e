#pragma once

#include "statemanager/status/status_types.hpp"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace vela::ap::statemanager::status
{

/// One completed step of a standby or resume sequence, as the state notifier saw it.
struct Step_record
{
    /// The notifier's number of the step; a late answer names it.
    std::uint64_t serial{0};
    Client_group group{Client_group::apps};
    std::string state;
    /// 0 success, 1 timeout, 2 error.
    std::uint8_t status{0};
    std::chrono::steady_clock::time_point requested;
    std::chrono::steady_clock::time_point completed;
    /// One per client asked (their step index is not used here).
    std::vector<Client_row> clients;
};

/// Where the state notifier notes what each client of a step answered. Each operation only
/// records; callers may hold their own locks.
class Round_recorder_interface
{
  public:
    virtual ~Round_recorder_interface() = default;

    /// A step that steers the sequence completed. Notification server thread, under the
    /// notifier's lock; or the main thread when a step could not be handed to the server.
    virtual void step_completed(const Step_record& step) = 0;

    /// A client that had timed out in step serial answered afterwards (code and state of the
    /// answer, ms from the step's request). Notification server thread.
    virtual void late_answer(std::uint64_t serial,
                             const std::string& name,
                             std::uint8_t code,
                             const std::string& state,
                             std::uint32_t latency_ms) = 0;

  protected:
    Round_recorder_interface() = default;
    Round_recorder_interface(const Round_recorder_interface&) = default;
    Round_recorder_interface& operator=(const Round_recorder_interface&) = default;
};

} // namespace vela::ap::statemanager::status
