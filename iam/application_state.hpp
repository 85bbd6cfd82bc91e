#pragma once

#include "ara/exec/application_client.h"

#include <memory>

namespace vela::iam
{

/// Execution management's client as the daemon sees it.
class Application_client_abstract
{
  public:
    virtual ~Application_client_abstract() = default;
    /// Reports the daemon's state; kSuccess, or a failure. May throw.
    virtual ara::exec::ApplicationReturnType ReportApplicationState(ara::exec::ApplicationState state) = 0;
};

/// The platform's execution-management client.
class Platform_application_client final : public Application_client_abstract
{
  public:
    ara::exec::ApplicationReturnType ReportApplicationState(ara::exec::ApplicationState state) override
    {
        return m_client.ReportApplicationState(state);
    }

  private:
    ara::exec::ApplicationClient m_client;
};

/// Reports Running while it is created and Terminating when it is destroyed. A failed report is
/// logged; an exception while reporting Running is logged and passed on.
class Application_state final
{
  public:
    explicit Application_state(std::unique_ptr<Application_client_abstract> client);
    ~Application_state();

    Application_state(const Application_state&) = delete;
    Application_state& operator=(const Application_state&) = delete;

  private:
    std::unique_ptr<Application_client_abstract> m_client;
};

} // namespace vela::iam
