#pragma once

#include <cstdint>
#include <memory>

namespace tarn1::service_manager
{
class Service_manager_interface;
} // namespace tarn1::service_manager

namespace ara::exec
{

/// The states an application reports to execution management.
enum class ApplicationState : std::uint8_t
{
    kRunning = 0,
    kTerminating = 1
};

/// Result of ReportApplicationState: 0 success, anything else a failure.
enum class ApplicationReturnType : std::uint8_t
{
    kSuccess = 0,
    kGeneralError = 1
};

/// Reports the application's own state. Stand-in: logs the report (context "EXEC") and succeeds.
/// Under a service manager (systemd) kRunning also sends READY=1 and STATUS=running, and
/// kTerminating sends STOPPING=1; a notification that cannot be sent is a warning, the result
/// stays success.
class ApplicationClient final
{
  public:
    /// Reports to the service manager that started this process, if any.
    ApplicationClient();
    /// Reports to the given service manager.
    explicit ApplicationClient(
        std::shared_ptr<tarn1::service_manager::Service_manager_interface> service_manager) noexcept;

    /// Any thread.
    ApplicationReturnType ReportApplicationState(ApplicationState state) noexcept;

  private:
    std::shared_ptr<tarn1::service_manager::Service_manager_interface> m_service_manager;
};

} // namespace ara::exec
