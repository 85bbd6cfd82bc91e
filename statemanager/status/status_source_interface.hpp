#pragma once

#include "statemanager/status/status_types.hpp"

#include <vector>

namespace vela::ap::statemanager::status
{

/// What the status service reads: copies taken under the status data's own lock, so a reader
/// never waits for the state machine, the service handler or the notification server.
class Status_source_interface
{
  public:
    virtual ~Status_source_interface() = default;

    /// The current state. Any thread.
    virtual State_value current_state() const = 0;

    /// The active requests, the NM side and the knock-out counter. Any thread.
    virtual Holders_reply holders() const = 0;

    /// The newest transition reports, oldest first. Any thread.
    virtual std::vector<Transition_report> history() const = 0;

  protected:
    Status_source_interface() = default;
    Status_source_interface(const Status_source_interface&) = default;
    Status_source_interface& operator=(const Status_source_interface&) = default;
};

} // namespace vela::ap::statemanager::status
