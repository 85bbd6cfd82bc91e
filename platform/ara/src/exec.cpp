#include "ara/exec/application_client.h"
#include "ara/exec/state_client.h"
#include "ara/log/logging.h"

namespace ara::exec
{
namespace
{
ara::log::Logger& exec_logger() { return ara::log::CreateLogger("EXEC", "execution management stand-in"); }
} // namespace

ApplicationReturnType ApplicationClient::ReportApplicationState(ApplicationState state) noexcept
{
    exec_logger().LogInfo() << "ReportApplicationState("
                            << (state == ApplicationState::kRunning ? "kRunning" : "kTerminating") << ")";
    return ApplicationReturnType::kSuccess;
}

StateReturnType StateClient::SetState(const std::string& functionGroup, const std::string& state)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_states[functionGroup] = state;
    }
    exec_logger().LogInfo() << "SetState(" << functionGroup << ", " << state << ")";
    return StateReturnType::kSuccess;
}

StateReturnType StateClient::GetState(const std::string& functionGroup,
                                      std::string& state,
                                      Function_group_state_transition& transition)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_states.find(functionGroup);
        state = found != m_states.end() ? found->second : "Startup";
    }
    transition = Function_group_state_transition::kFinished;
    exec_logger().LogDebug() << "GetState(" << functionGroup << ") -> " << state;
    return StateReturnType::kSuccess;
}

} // namespace ara::exec
