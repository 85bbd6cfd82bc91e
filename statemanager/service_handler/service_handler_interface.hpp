#pragma once

namespace vela::ap::statemanager
{

/// The state machine's view of the service handler, the hub between the applications' requests
/// and UDP network management. Every operation here is called on the main thread; the handler
/// itself also runs on middleware threads and synchronises those paths internally.
class Service_handler_interface
{
  public:
    virtual ~Service_handler_interface() = default;

    /// Starts the search for the UDP NM services when NM usage is allowed (the provided services
    /// are offered once both are found), otherwise offers them at once. Called once by the state
    /// manager's initialisation, after the virtual input and before the states are created.
    virtual void init() = 0;

    /// Withdraws the offered services (returning once none of their calls runs), then stops and
    /// destroys the NM client. Called once after the main loop has ended.
    virtual void deinit() = 0;

    /// True once both UDP NM services were found and the provided services were offered.
    virtual bool nm_interface_available() const = 0;

    /// True while some application keeps communication alive; false when NM usage is disabled.
    virtual bool apps_keep_com_alive() const = 0;

    /// True while some application keeps the ECU alive.
    virtual bool apps_keep_ecu_alive() const = 0;

    /// apps_keep_com_alive() or else apps_keep_ecu_alive().
    virtual bool is_network_in_use() const = 0;

    /// True when the network last reported the ECU inactive (sleep mode).
    virtual bool ecu_in_sleep_mode() const = 0;

    /// Requests the network with the configured default NM request pattern.
    virtual void request_network() = 0;

    /// Releases the network requested with the default NM request pattern.
    virtual void release_network() = 0;

    /// Stops every NM request until end_standby(). Called when standby is being prepared.
    virtual void standby() = 0;

    /// Lets NM requests through again after standby(). Called when the machine resumes.
    virtual void end_standby() = 0;

  protected:
    Service_handler_interface() = default;
    Service_handler_interface(const Service_handler_interface&) = default;
    Service_handler_interface& operator=(const Service_handler_interface&) = default;
};

} // namespace vela::ap::statemanager
