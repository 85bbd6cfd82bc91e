#pragma once

#include "statemanager/status/status_types.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace vela::ap::statemanager::status
{

/// Where the service handler and the NM client note who keeps the machine awake and what the
/// network management side does. Each operation only records (no I/O, no waiting) and is safe on
/// any thread; callers may hold their own locks.
class Holder_recorder_interface
{
  public:
    /// The three calls the daemon makes to the UDP NM.
    enum class Nm_call : std::uint8_t
    {
        request_network,
        release_network,
        set_user_data
    };

    virtual ~Holder_recorder_interface() = default;

    /// The request of kind through instance is active now (with these CAB bits and AC value) or
    /// not any more. Called after each request and release, on the middleware worker that runs it,
    /// under the service handler's lock.
    virtual void holder_changed(Holder_kind kind,
                                const std::string& instance,
                                bool active,
                                const std::vector<std::uint8_t>& cab_bits,
                                std::uint8_t ac) = 0;

    /// One call to the UDP NM with its pattern or user data, just before it is made. Main thread
    /// or a middleware worker, under the service handler's lock or in the find-service completion.
    virtual void nm_call(Nm_call call, const std::vector<std::uint8_t>& bytes) = 0;

    /// A NetworkState notification arrived (NM client's middleware worker).
    virtual void network_state_received(const std::vector<std::uint8_t>& value) = 0;

    /// The ECU state derived from NetworkState changed to 0 active, 1 ready sleep or 2 inactive
    /// (NM client's middleware worker).
    virtual void ecu_state_changed(std::uint8_t state) = 0;

    /// Both UDP NM services were found (find-service completion, a middleware worker).
    virtual void nm_services_found() = 0;

    /// NM messages stop for standby (false) or start again (true). Main thread.
    virtual void nm_sending_changed(bool sending) = 0;

  protected:
    Holder_recorder_interface() = default;
    Holder_recorder_interface(const Holder_recorder_interface&) = default;
    Holder_recorder_interface& operator=(const Holder_recorder_interface&) = default;
};

} // namespace vela::ap::statemanager::status
