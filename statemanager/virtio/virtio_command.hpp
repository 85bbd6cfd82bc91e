#pragma once

#include <cstdint>
#include <string>

namespace vela::ap::statemanager::virtio
{

/// One hypervisor command, as the virtual input devices deliver it. The value is the wire byte.
enum class Virtio_command : std::uint8_t
{
    Non = 0,
    Run = 1,
    NmControlled = 2,
    NMControlledPrepareSD = 3,
    PrepareSD = 4,
    Shutdown = 5
};

/// The command's name ("Non", "Run", ...); an empty string for a value that is no command.
std::string toString(const Virtio_command& command);

} // namespace vela::ap::statemanager::virtio
