#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace vela::ap::statemanager
{

/// One provided car-wake-up service instance (StateManagementCWUInterface) as the service
/// handler holds it. The instance string is the application id under which requests are booked.
///
/// The service methods (RequestCarWakeUp, ReleaseCarWakeUp) and their future-returning helpers
/// belong to the generated skeleton, which becomes this class's base when the middleware's
/// skeletons join the build; until then this base carries the operations that need no
/// middleware type.
class State_manager_cwu_interface_abstract
{
public:
    using Request_callback = std::function<void(std::uint8_t)>;
    using Release_callback = std::function<void()>;

    virtual ~State_manager_cwu_interface_abstract() = default;

    /// The instance string (the application id). Any thread.
    virtual const std::string& get_app_id() const = 0;

    /// Replaces the callback run for RequestCarWakeUp(ac_value). Set by the service handler's
    /// init() on the main thread before the service is offered.
    virtual void set_cwu_request_cb(Request_callback callback) = 0;

    /// Replaces the callback run for ReleaseCarWakeUp(). Set like the request callback.
    virtual void set_cwu_release_cb(Release_callback callback) = 0;

protected:
    State_manager_cwu_interface_abstract() = default;
    State_manager_cwu_interface_abstract(const State_manager_cwu_interface_abstract&) = default;
    State_manager_cwu_interface_abstract& operator=(const State_manager_cwu_interface_abstract&) = default;
};

} // namespace vela::ap::statemanager
