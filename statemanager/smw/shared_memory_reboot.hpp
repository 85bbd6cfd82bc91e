#pragma once

#include "statemanager/smw/shared_memory_reboot_interface.hpp"
#include "statemanager/smw/shared_memory_writer_interface.hpp"

#include <string>

namespace vela::ap::statemanager::smw
{

/// Writes restart requests to the hypervisor driver's command file. A request whose write fails
/// is followed by one "cancel" and one more attempt of the same request.
class Shared_memory_reboot : public Shared_memory_writer_interface, public Shared_memory_reboot_interface
{
  public:
    /// The hypervisor driver's restart command file.
    static constexpr const char* s_default_path = "/sys/vmctl/command_request";

    explicit Shared_memory_reboot(const std::string& path = s_default_path);

    void restart_vm() override;
    void restart_m3() override;

    /// Writes command; when that fails, writes "cancel" and then command once more, whatever
    /// the outcome of either.
    void try_reboot(const std::string& command);
};

} // namespace vela::ap::statemanager::smw
