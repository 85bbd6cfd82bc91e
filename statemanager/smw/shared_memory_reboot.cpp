#include "statemanager/smw/shared_memory_reboot.hpp"

namespace vela::ap::statemanager::smw
{

Shared_memory_reboot::Shared_memory_reboot(const std::string& path)
    : Shared_memory_writer_interface(path)
{
}

void Shared_memory_reboot::restart_vm()
{
    try_reboot("restartao");
}

void Shared_memory_reboot::restart_m3()
{
    try_reboot("restartm3");
}

void Shared_memory_reboot::try_reboot(const std::string& command)
{
    if (write_to_memory(command))
    {
        return;
    }
    // The driver may hold a half-taken request: withdraw it, then ask once more.
    (void)write_to_memory("cancel");
    (void)write_to_memory(command);
}

} // namespace vela::ap::statemanager::smw
