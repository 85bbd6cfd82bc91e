#pragma once

#include "statemanager/skeleton/state_management_skeletons.hpp"
#include "statemanager/status/status_publisher_interface.hpp"
#include "statemanager/status/status_source_interface.hpp"

#include <memory>
#include <vector>

namespace vela::ap::statemanager::services
{

/// The read-only status service (StateManagementStatusInterface, instance "Status"): answers
/// GetHolders and GetHistory with copies of the status data, and carries each state change to the
/// State field and the TransitionReport event. It changes nothing in the daemon.
class Status_service final : public skeleton::StateManagementStatusInterfaceSkeleton,
                             public status::Status_publisher_interface
{
  public:
    /// Reads from source; State starts with the source's current state, so the service can be
    /// offered at once.
    explicit Status_service(std::shared_ptr<const status::Status_source_interface> source);
    ~Status_service() override;

    Status_service(const Status_service&) = delete;
    Status_service& operator=(const Status_service&) = delete;

    /// The holders, the NM side and the knock-out counter now. Middleware worker thread.
    vela::com::Future<status::Holders_reply> GetHolders() override;
    /// The newest reports, oldest first. Middleware worker thread.
    vela::com::Future<std::vector<status::Transition_report>> GetHistory() override;

    /// Updates State and sends the report to TransitionReport's subscribers. Main thread.
    void publish(const status::State_value& state, const status::Transition_report& report) override;

  private:
    std::shared_ptr<const status::Status_source_interface> m_source;
};

} // namespace vela::ap::statemanager::services
