#pragma once

#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/states/state_interface.hpp"

#include <memory>

namespace vela::ap::statemanager::states
{

/// "NM Controlled" (2): network management decides. When the network sleeps the machine goes to
/// Post Run if an application keeps the ECU alive, otherwise to Shutting down or, when the
/// prepare-SD flag is set, to Preparing. Run, Shutdown and PrepareSD commands act at once.
class Nm_controlled_state final : public State_interface
{
  public:
    Nm_controlled_state(const std::shared_ptr<Service_handler_interface>& service_handler,
                        const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update);

    /// Writes "runnmcontrolled" and releases the default network request (also when it was
    /// never requested), so the network may go to sleep.
    void entering_state() override;

    /// Tests, first match wins: Run; asleep and kept alive; Shutdown; asleep, not kept, flag
    /// false; PrepareSD; asleep, not kept, flag true. Each test asks the service handler afresh.
    unsigned int check_transition(const virtio::Virtio_command& command) override;

  private:
    std::shared_ptr<Service_handler_interface> m_service_handler;
};

} // namespace vela::ap::statemanager::states
