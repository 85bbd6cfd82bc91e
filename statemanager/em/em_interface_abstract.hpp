#pragma once

#include "ara/exec/state_client.h"

#include <string>

namespace vela::ap::statemanager
{

/// The state machine's only way to change the machine state that execution management runs.
/// Every operation is called on the main thread, from the states' entry actions.
class Em_interface_abstract
{
  public:
    virtual ~Em_interface_abstract() = default;

    /// Requests the state "Shutdown" of the function group "MachineState". A failure is logged
    /// and never reaches the caller. Called by the shutting-down state for a normal shutdown.
    virtual void request_shutdown() = 0;

    /// Requests the state "Running" of "MachineState". A failure is logged and never reaches the
    /// caller. Called each time the running state is entered.
    virtual void request_running() = 0;

    /// True when execution management reports "MachineState" as started ("Startup" or "Running",
    /// reached). No state calls it today.
    virtual bool check_for_running_state() = 0;

    /// Forwards to the platform's StateClient::SetState (function group, state); may throw
    /// std::runtime_error. The request operations reach the platform only through this.
    virtual ara::exec::StateReturnType StateClient_SetState(const std::string& function_group,
                                                            const std::string& state) = 0;

    /// Forwards to the platform's StateClient::GetState (function group in; state and transition
    /// out) and gives back its result code (0 success); may throw std::runtime_error.
    virtual ara::exec::StateReturnType GetState(const std::string& function_group,
                                                std::string& state,
                                                ara::exec::Function_group_state_transition& transition) = 0;

  protected:
    Em_interface_abstract() = default;
    Em_interface_abstract(const Em_interface_abstract&) = default;
    Em_interface_abstract& operator=(const Em_interface_abstract&) = default;
};

} // namespace vela::ap::statemanager
