#pragma once

#include "statemanager/services/ecu_alive_interface_callback.hpp"
#include "statemanager/skeleton/state_management_skeletons.hpp"

#include <atomic>
#include <string>

namespace vela::ap::statemanager::services
{

/// One provided ECU-alive service instance (StateManagementAliveInterface); the instance string
/// is the application id. One flag per instance, no counting: two requests and one release leave
/// the application released.
class Ecu_alive_interface : public skeleton::StateManagementAliveInterfaceSkeleton
{
  public:
    /// callback may be null (then only the flag changes); it must outlive this object.
    Ecu_alive_interface(const std::string& instance, Ecu_alive_interface_callback* callback);
    ~Ecu_alive_interface() override;

    Ecu_alive_interface(const Ecu_alive_interface&) = delete;
    Ecu_alive_interface& operator=(const Ecu_alive_interface&) = delete;

    /// Clears the flag, then tells the callback. Middleware worker thread.
    vela::com::Future<void> ReleaseAlive() override;
    /// Sets the flag, then tells the callback. Middleware worker thread.
    vela::com::Future<void> RequestAlive() override;

    /// True between RequestAlive and ReleaseAlive. Any thread (the main loop reads it).
    virtual bool app_keeps_ecu_alive() const;
    /// The instance string. Any thread.
    virtual const std::string& get_app_id() const;
    /// A satisfied future: the reply to RequestAlive.
    virtual vela::com::Future<void> promise_request_alive();
    /// A satisfied future: the reply to ReleaseAlive.
    virtual vela::com::Future<void> promise_release_alive();

  private:
    Ecu_alive_interface_callback* m_callback;
    // Written by RequestAlive/ReleaseAlive on middleware threads, read by the main loop.
    std::atomic<bool> m_alive_requested{false};
    std::string m_instance;
};

} // namespace vela::ap::statemanager::services
