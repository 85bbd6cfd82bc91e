#pragma once

#include "statemanager/status/status_types.hpp"
#include "statemanager/virtio/virtio_command.hpp"

#include <cstdint>
#include <string>

namespace vela::ap::statemanager::status
{

/// What, besides the two states and the command, tells one cause from another.
struct Cause_context
{
    /// Both UDP NM services were found.
    bool nm_found{false};
    /// Some application holds an ECU-alive request.
    bool ecu_kept{false};
    /// The post-run knock-out counter has run out.
    bool knockout_expired{false};
};

/// A cause: its kind and its text ("key P", "network asleep", ...).
struct Cause
{
    Cause_kind kind{Cause_kind::key};
    std::string text;
};

/// The hypervisor's key of a command: "R", "N", "S", "P", "POWER"; "" for Non.
const char* key_of(virtio::Virtio_command command);

/// Why the machine went from one state to the other, read back from the transition tables: a
/// command counts only where the from-state acts on it and its transition leads to that state.
Cause cause_of(std::uint32_t from, std::uint32_t to, virtio::Virtio_command command, const Cause_context& context);

/// True when the from-state only waits for this cause (start-up for the NM services, preparing
/// and resuming for their notification sequence), so its time belongs to the change.
bool waits_for(std::uint32_t from, const Cause& cause);

} // namespace vela::ap::statemanager::status
