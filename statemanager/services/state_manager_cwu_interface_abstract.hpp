#pragma once

#include "statemanager/skeleton/state_management_skeletons.hpp"

#include <cstdint>
#include <functional>
#include <string>

namespace vela::ap::statemanager
{

/// One provided car-wake-up service instance (StateManagementCWUInterface) as the service
/// handler holds it. The instance string is the application id under which requests are booked.
/// RequestCarWakeUp and ReleaseCarWakeUp (from the skeleton) run on middleware worker threads and
/// hand their arguments to the callbacks below.
class State_manager_cwu_interface_abstract : public skeleton::StateManagementCWUInterfaceSkeleton
{
  public:
    using Request_callback = std::function<void(std::uint8_t)>;
    using Release_callback = std::function<void()>;

    /// The instance string (the application id). Any thread.
    virtual const std::string& get_app_id() const = 0;

    /// Replaces the callback run for RequestCarWakeUp(ac_value). Set by the service handler's
    /// init() on the main thread before the service is offered.
    virtual void set_cwu_request_cb(Request_callback callback) = 0;

    /// Replaces the callback run for ReleaseCarWakeUp(). Set like the request callback.
    virtual void set_cwu_release_cb(Release_callback callback) = 0;

    /// A satisfied future: the reply to RequestCarWakeUp.
    virtual vela::com::Future<void> promise_request_cwu_get_future() = 0;
    /// A satisfied future: the reply to ReleaseCarWakeUp.
    virtual vela::com::Future<void> promise_release_cwu_get_future() = 0;

  protected:
    explicit State_manager_cwu_interface_abstract(const std::string& instance)
        : StateManagementCWUInterfaceSkeleton(instance, kest::com::cpp_binding::Method_call_processing_mode::kEvent)
    {
    }
};

} // namespace vela::ap::statemanager
