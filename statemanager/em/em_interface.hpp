#pragma once

#include "ara/exec/state_client.h"
#include "statemanager/em/em_interface_abstract.hpp"

#include <string>

namespace vela::ap::statemanager
{

/// Requests the machine states "Running" and "Shutdown" of the function group "MachineState"
/// from execution management through one StateClient. Failures are logged, never retried and
/// never passed on. Main thread only.
class Em_interface : public Em_interface_abstract
{
  public:
    Em_interface() = default;

    void request_shutdown() override;
    void request_running() override;
    bool check_for_running_state() override;

    ara::exec::StateReturnType StateClient_SetState(const std::string& function_group,
                                                    const std::string& state) override;
    ara::exec::StateReturnType GetState(const std::string& function_group,
                                        std::string& state,
                                        ara::exec::Function_group_state_transition& transition) override;

    /// True when the state is "Startup" or "Running" and the transition value is 1 (reached).
    static bool em_started(const std::string& state, ara::exec::Function_group_state_transition transition);

  private:
    /// Sends one SetState request; a std::runtime_error is logged with its text and swallowed.
    void request_state(const char* info_text, const char* state, const char* error_text);

    ara::exec::StateClient m_state_client;
};

} // namespace vela::ap::statemanager
