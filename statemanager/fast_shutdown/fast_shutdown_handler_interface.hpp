#pragma once

#include <chrono>

namespace vela::ap::statemanager::fast_shutdown
{

/// The power-off command pipe to the power-management daemon, as the states use it. No
/// operation blocks or reports failure (failures are logged). Called on the main thread only.
class Fast_shutdown_handler_interface
{
  public:
    virtual ~Fast_shutdown_handler_interface() = default;

    /// Asks the power-management daemon to look itself up, so that a later fast shutdown is
    /// possible. Called by the preparing state on entry.
    virtual void process_lookup() const = 0;

    /// When a fast shutdown is possible: terminates the power-management daemon, then orders the
    /// power-off after the given time; otherwise does nothing. Called by the shutting-down state.
    virtual void start_fast_shutdown(std::chrono::milliseconds timeout) const = 0;

    /// True when the command pipe is open and a fast shutdown can be made.
    virtual bool is_possible() const = 0;

  protected:
    Fast_shutdown_handler_interface() = default;
    Fast_shutdown_handler_interface(const Fast_shutdown_handler_interface&) = default;
    Fast_shutdown_handler_interface& operator=(const Fast_shutdown_handler_interface&) = default;
};

} // namespace vela::ap::statemanager::fast_shutdown
