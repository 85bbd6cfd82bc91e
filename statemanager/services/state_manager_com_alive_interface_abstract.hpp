#pragma once

#include "statemanager/skeleton/state_management_skeletons.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vela::ap::statemanager
{

/// One provided COM-alive service instance (StateManagementComAliveInterface) as the service
/// handler holds it. The instance string is the application id under which requests are booked.
/// RequestComAlive and ReleaseComAlive (from the skeleton) run on middleware worker threads and
/// hand their arguments to the callbacks below.
class State_manager_com_alive_interface_abstract : public skeleton::StateManagementComAliveInterfaceSkeleton
{
  public:
    using Request_callback = std::function<void(const std::vector<std::uint8_t>&, std::uint8_t)>;
    using Release_callback = std::function<void(const std::vector<std::uint8_t>&)>;

    /// The instance string (the application id). Any thread.
    virtual const std::string& get_app_id() const = 0;

    /// Replaces the callback run for RequestComAlive(cab_bits, ac_value). Set by the service
    /// handler's init() on the main thread before the service is offered.
    virtual void set_com_alive_request_cb(Request_callback callback) = 0;

    /// Replaces the callback run for ReleaseComAlive(cab_bits). Set like the request callback.
    virtual void set_com_alive_release_cb(Release_callback callback) = 0;

    /// A satisfied future: the reply to RequestComAlive.
    virtual vela::com::Future<void> promise_request_com_alive_get_future() = 0;
    /// A satisfied future: the reply to ReleaseComAlive.
    virtual vela::com::Future<void> promise_release_com_alive_get_future() = 0;

  protected:
    explicit State_manager_com_alive_interface_abstract(const std::string& instance)
        : StateManagementComAliveInterfaceSkeleton(instance,
                                                   kest::com::cpp_binding::Method_call_processing_mode::kEvent)
    {
    }
};

} // namespace vela::ap::statemanager
