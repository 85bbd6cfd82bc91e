#include "statemanager/virtio/virtio_command.hpp"

#include <map>

namespace vela::ap::statemanager::virtio
{

std::string toString(const Virtio_command& command)
{
    // Built once, on first use; read-only afterwards.
    static const std::map<Virtio_command, std::string> names{
        {Virtio_command::Non, "Non"},
        {Virtio_command::Run, "Run"},
        {Virtio_command::NmControlled, "NmControlled"},
        {Virtio_command::NMControlledPrepareSD, "NMControlledPrepareSD"},
        {Virtio_command::PrepareSD, "PrepareSD"},
        {Virtio_command::Shutdown, "Shutdown"},
    };
    const auto found = names.find(command);
    return found == names.end() ? std::string{} : found->second;
}

} // namespace vela::ap::statemanager::virtio
