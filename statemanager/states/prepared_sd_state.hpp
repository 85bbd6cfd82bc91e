#pragma once

#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/states/state_interface.hpp"

#include <memory>

namespace vela::ap::statemanager::states
{

/// "PreparedSD" (6): standby; waits for the hypervisor's decision as long as it takes. Run
/// resumes; Shutdown shuts down the fast way when the power-management daemon was found.
class PreparedSD_state final : public State_interface
{
  public:
    explicit PreparedSD_state(const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update);

    /// Writes "prepared4sd".
    void entering_state() override;

    /// Resuming on Run; on Shutdown sets the forced-shutdown flag and goes to Shutting down.
    unsigned int check_transition(const virtio::Virtio_command& command) override;
};

} // namespace vela::ap::statemanager::states
