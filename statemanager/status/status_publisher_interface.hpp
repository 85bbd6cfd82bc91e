#pragma once

#include "statemanager/status/status_types.hpp"

namespace vela::ap::statemanager::status
{

/// Where the status board sends each state change as it happens (the status service's field and
/// event).
class Status_publisher_interface
{
  public:
    virtual ~Status_publisher_interface() = default;

    /// The new state and its report. Main thread, after the change was recorded; must not block.
    virtual void publish(const State_value& state, const Transition_report& report) = 0;

  protected:
    Status_publisher_interface() = default;
    Status_publisher_interface(const Status_publisher_interface&) = default;
    Status_publisher_interface& operator=(const Status_publisher_interface&) = default;
};

} // namespace vela::ap::statemanager::status
