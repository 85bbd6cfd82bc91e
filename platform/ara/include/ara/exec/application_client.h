#pragma once

#include <cstdint>

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
class ApplicationClient final
{
public:
    ApplicationClient() noexcept = default;

    ApplicationReturnType ReportApplicationState(ApplicationState state) noexcept;
};

} // namespace ara::exec
