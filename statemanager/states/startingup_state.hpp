#pragma once

#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/states/state_interface.hpp"

#include <memory>

namespace vela::ap::statemanager::states
{

/// "Starting up" (0), the initial state: waits until the UDP NM services are found (at once when
/// NM usage is disallowed) and then passes to Running on its own, whatever command is queued.
class Startingup_state final : public State_interface
{
  public:
    Startingup_state(const std::shared_ptr<Service_handler_interface>& service_handler,
                     const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                     bool nm_usage_allowed);

    /// Writes "startingup" to the VM status file.
    void entering_state() override;

    /// Running as soon as NM is not used or its services have been found; otherwise stays and
    /// says so every cycle. The command is ignored.
    unsigned int check_transition(const virtio::Virtio_command& command) override;

  private:
    std::shared_ptr<Service_handler_interface> m_service_handler;
    bool m_nm_usage_allowed;
};

} // namespace vela::ap::statemanager::states
