#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace vela::ap::statemanager
{

/// The client of the platform's UDP network management services (NetworkState and UserData),
/// as the service handler uses it. The three request operations are synchronous: they return
/// when the service has completed the call, and do nothing while the service is not found yet.
/// The service handler calls them on the main thread or on middleware threads, always under its
/// own mutex.
class Nm_interface_abstract
{
  public:
    virtual ~Nm_interface_abstract() = default;

    /// Releases the network for the bits set in pattern (ReleaseNetwork).
    virtual void release_network(const std::vector<std::uint8_t>& pattern) = 0;

    /// Requests the network for the bits set in pattern (RequestNetwork).
    virtual void request_network(const std::vector<std::uint8_t>& pattern) = 0;

    /// Sets the user data that network management puts into its messages (SetUserData).
    virtual void set_user_data(const std::vector<std::uint8_t>& data) = 0;

    /// Starts the searches for both services; on_found runs once, on a middleware thread, when
    /// both have been found. Called once by the service handler's init() on the main thread.
    virtual void start_find_services(const std::function<void()>& on_found) = 0;

    /// Stores the callback that receives every new NetworkState value (replacing an earlier
    /// one); it runs on a middleware thread.
    virtual void set_network_state_updated_func(const std::function<void(const std::vector<std::uint8_t>&)>& func) = 0;

    /// Ends the searches and drops the connections to both services, waiting for a search or
    /// NetworkState handler that runs; afterwards no callback runs and the three request operations
    /// do nothing. Called once by the service handler on the main thread, outside its mutex (a
    /// running find-service completion takes it), before the client is destroyed.
    virtual void stop() = 0;

  protected:
    Nm_interface_abstract() = default;
    Nm_interface_abstract(const Nm_interface_abstract&) = default;
    Nm_interface_abstract& operator=(const Nm_interface_abstract&) = default;
};

} // namespace vela::ap::statemanager
