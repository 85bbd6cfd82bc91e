#pragma once

#include "statemanager/skeleton/state_management_skeletons.hpp"
#include "statemanager/smw/shared_memory_reboot_interface.hpp"

#include <memory>
#include <mutex>
#include <string>

namespace vela::ap::statemanager::services
{

/// The diagnostic restart service (DSAInterface, instance "DSA_Interface"): restart type 1
/// restarts this virtual machine, 5 the M3 processor, through the restart command writer; 2 to 4
/// are known and ignored, anything else is refused with a warning. Every call is answered.
class Dsa_interface final : public skeleton::DSAInterfaceSkeleton
{
  public:
    /// Writes the restart commands to the file at restart_command_path.
    explicit Dsa_interface(std::string restart_command_path);
    /// Uses the given restart command writer.
    explicit Dsa_interface(std::unique_ptr<smw::Shared_memory_reboot_interface>&& writer);
    ~Dsa_interface() override;

    Dsa_interface(const Dsa_interface&) = delete;
    Dsa_interface& operator=(const Dsa_interface&) = delete;

    /// Carries out the restart of restart_type. Middleware worker thread.
    vela::com::Future<void> RequestRestart(std::uint8_t restart_type) override;
    /// A satisfied future: the reply to RequestRestart.
    vela::com::Future<void> promise_get_future();

  private:
    // Serializes restarts: two restart sequences (middleware workers) never interleave their words.
    std::mutex m_restart_mutex;
    std::unique_ptr<smw::Shared_memory_reboot_interface> m_writer;
};

} // namespace vela::ap::statemanager::services
