#pragma once

#include "statemanager/em/em_interface_abstract.hpp"
#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/states/state_interface.hpp"

#include <memory>

namespace vela::ap::statemanager::states
{

/// "Running" (1): the machine runs on the hypervisor's command. The hypervisor may hand control
/// to NM (choosing whether a later network sleep prepares for shutdown), prepare for shutdown, or
/// shut down.
class Running_state final : public State_interface
{
  public:
    Running_state(const std::shared_ptr<Service_handler_interface>& service_handler,
                  const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                  const std::shared_ptr<Em_interface_abstract>& em_interface,
                  bool nm_usage_allowed,
                  bool request_network_on_entry);

    /// Writes "running", requests the network when NM is used and that is configured, and asks
    /// execution management for the machine state "Running" (every time).
    void entering_state() override;

    /// NM Controlled on NmControlled (prepare-SD flag cleared) or NMControlledPrepareSD (flag set),
    /// both only when NM is used; Preparing on PrepareSD; Shutting down on Shutdown.
    unsigned int check_transition(const virtio::Virtio_command& command) override;

  private:
    std::shared_ptr<Service_handler_interface> m_service_handler;
    std::shared_ptr<Em_interface_abstract> m_em_interface;
    bool m_nm_usage_allowed;
    bool m_request_network_on_entry;
};

} // namespace vela::ap::statemanager::states
