#pragma once

#include <string>

namespace vela::ap::statemanager::services
{

/// What an ECU-alive service instance tells when its application requests or releases keeping
/// the ECU awake (the service handler). Called on a middleware worker thread, after the instance
/// has updated its own flag.
class Ecu_alive_interface_callback
{
  public:
    virtual ~Ecu_alive_interface_callback() = default;

    /// The application named by app_id asks to keep the ECU awake.
    virtual void ecu_alive_request(const std::string& app_id) = 0;
    /// The application named by app_id no longer needs the ECU awake.
    virtual void ecu_alive_release(const std::string& app_id) = 0;

  protected:
    Ecu_alive_interface_callback() = default;
    Ecu_alive_interface_callback(const Ecu_alive_interface_callback&) = default;
    Ecu_alive_interface_callback& operator=(const Ecu_alive_interface_callback&) = default;
};

} // namespace vela::ap::statemanager::services
