#include "statemanager/em/em_interface.hpp"

#include "ara/log/logging.h"

#include <cstdint>
#include <stdexcept>

namespace vela::ap::statemanager
{

namespace
{
constexpr const char* s_function_group = "MachineState";
} // namespace

void Em_interface::request_running()
{
    request_state(
        "Setting EM machine state to running", "Running", "StateClient::SetState(MachineState, Running) exception: ");
}

void Em_interface::request_shutdown()
{
    request_state("Setting EM machine state to shutdown",
                  "Shutdown",
                  "StateClient::SetState(MachineState, Shutdown) exception: ");
}

void Em_interface::request_state(const char* info_text, const char* state, const char* error_text)
{
    ara::log::LogInfo() << info_text;
    try
    {
        // The caller goes on as if the request had succeeded, so the result is not examined.
        (void)StateClient_SetState(s_function_group, state);
    }
    catch (const std::runtime_error& error)
    {
        ara::log::LogError() << error_text << error.what();
    }
}

bool Em_interface::check_for_running_state()
{
    std::string state;
    auto transition = static_cast<ara::exec::Function_group_state_transition>(0);
    try
    {
        const ara::exec::StateReturnType result = GetState(s_function_group, state, transition);
        if (result != ara::exec::StateReturnType::kSuccess)
        {
            ara::log::LogError() << "EM has not been started. Error code: " << static_cast<std::uint8_t>(result);
            return false;
        }
    }
    catch (const std::runtime_error& error)
    {
        ara::log::LogError() << "StateClient::GetState(MachineState, state, phase) exception: " << error.what();
    }
    return em_started(state, transition);
}

ara::exec::StateReturnType Em_interface::StateClient_SetState(const std::string& function_group,
                                                              const std::string& state)
{
    return m_state_client.SetState(function_group, state);
}

ara::exec::StateReturnType Em_interface::GetState(const std::string& function_group,
                                                  std::string& state,
                                                  ara::exec::Function_group_state_transition& transition)
{
    return m_state_client.GetState(function_group, state, transition);
}

bool Em_interface::em_started(const std::string& state, ara::exec::Function_group_state_transition transition)
{
    return (state == "Startup" || state == "Running") && static_cast<int>(transition) == 1;
}

} // namespace vela::ap::statemanager
