#include "ara/exec/application_client.h"
#include "ara/exec/state_client.h"
#include "ara/log/logging.h"
#include "tarn1/service_manager/systemd_service_manager.hpp"

#include <cstring>
#include <system_error>
#include <utility>

namespace ara::exec
{
namespace
{
ara::log::Logger& exec_logger()
{
    return ara::log::CreateLogger("EXEC", "execution management stand-in");
}
} // namespace

ApplicationClient::ApplicationClient()
    : m_service_manager(std::make_shared<tarn1::service_manager::Systemd_service_manager>())
{
}

ApplicationClient::ApplicationClient(
    std::shared_ptr<tarn1::service_manager::Service_manager_interface> service_manager) noexcept
    : m_service_manager(std::move(service_manager))
{
}

ApplicationReturnType ApplicationClient::ReportApplicationState(ApplicationState state) noexcept
{
    const bool running = state == ApplicationState::kRunning;
    exec_logger().LogInfo() << "ReportApplicationState(" << (running ? "kRunning" : "kTerminating") << ")";
    if (m_service_manager && m_service_manager->is_present())
    {
        const int result = m_service_manager->notify(running ? "READY=1\nSTATUS=running" : "STOPPING=1");
        if (result < 0)
        {
            exec_logger().LogWarn() << "ReportApplicationState: service manager not notified: "
                                    << std::generic_category().message(-result);
        }
    }
    return ApplicationReturnType::kSuccess;
}

StateReturnType StateClient::SetState(const std::string& functionGroup, const std::string& state)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_states[functionGroup] = state;
    }
    // Only recorded and logged, also under a service manager: a machine state "Shutdown" must not
    // power off a developer's or integration machine (see docs/platform.md for what a real
    // integration maps it to).
    exec_logger().LogInfo() << "SetState(" << functionGroup << ", " << state << ")";
    return StateReturnType::kSuccess;
}

StateReturnType
StateClient::GetState(const std::string& functionGroup, std::string& state, Function_group_state_transition& transition)
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
