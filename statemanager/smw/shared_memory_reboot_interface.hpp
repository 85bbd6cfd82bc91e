#pragma once

namespace vela::ap::statemanager::smw
{

/// The restart command writer as the diagnostic restart service sees it. Failures are logged by
/// the writer and never reach the caller. Called under the restart service's mutex.
class Shared_memory_reboot_interface
{
  public:
    virtual ~Shared_memory_reboot_interface() = default;

    /// Asks the hypervisor to restart this virtual machine ("restartao").
    virtual void restart_vm() = 0;
    /// Asks the hypervisor to restart the M3 core ("restartm3").
    virtual void restart_m3() = 0;

  protected:
    Shared_memory_reboot_interface() = default;
    Shared_memory_reboot_interface(const Shared_memory_reboot_interface&) = default;
    Shared_memory_reboot_interface& operator=(const Shared_memory_reboot_interface&) = default;
};

} // namespace vela::ap::statemanager::smw
