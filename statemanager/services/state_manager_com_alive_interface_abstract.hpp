#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vela::ap::statemanager
{

/// One provided COM-alive service instance (StateManagementComAliveInterface) as the service
/// handler holds it. The instance string is the application id under which requests are booked.
///
/// The service methods (RequestComAlive, ReleaseComAlive) and their future-returning helpers
/// belong to the generated skeleton, which becomes this class's base when the middleware's
/// skeletons join the build; until then this base carries the operations that need no
/// middleware type.
class State_manager_com_alive_interface_abstract
{
public:
    using Request_callback = std::function<void(const std::vector<std::uint8_t>&, std::uint8_t)>;
    using Release_callback = std::function<void(const std::vector<std::uint8_t>&)>;

    virtual ~State_manager_com_alive_interface_abstract() = default;

    /// The instance string (the application id). Any thread.
    virtual const std::string& get_app_id() const = 0;

    /// Replaces the callback run for RequestComAlive(cab_bits, ac_value). Set by the service
    /// handler's init() on the main thread before the service is offered.
    virtual void set_com_alive_request_cb(Request_callback callback) = 0;

    /// Replaces the callback run for ReleaseComAlive(cab_bits). Set like the request callback.
    virtual void set_com_alive_release_cb(Release_callback callback) = 0;

protected:
    State_manager_com_alive_interface_abstract() = default;
    State_manager_com_alive_interface_abstract(const State_manager_com_alive_interface_abstract&) = default;
    State_manager_com_alive_interface_abstract& operator=(const State_manager_com_alive_interface_abstract&) = default;
};

} // namespace vela::ap::statemanager
