#pragma once

#include "statemanager/fast_shutdown/fast_shutdown_handler_interface.hpp"
#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/state_notifier/state_notifier_interface.hpp"
#include "statemanager/states/state_interface.hpp"

#include <memory>

namespace vela::ap::statemanager::states
{

/// "Preparing" (5), transient: tells the diagnostic managers and the applications to enter
/// standby and stops NM traffic; passes to PreparedSD when the standby sequence has ended, or to
/// Resuming at once on Run. A Shutdown that arrives meanwhile waits for PreparedSD.
class Preparing_state final : public State_interface
{
  public:
    Preparing_state(const std::shared_ptr<Service_handler_interface>& service_handler,
                    const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                    const std::shared_ptr<state_notifier::State_notifier_interface>& state_notifier,
                    const std::shared_ptr<fast_shutdown::Fast_shutdown_handler_interface>& fast_shutdown_handler);

    /// Writes "preparing", starts the standby sequence, looks the power-management daemon up for
    /// a later fast shutdown and stops NM traffic, in this order.
    void entering_state() override;

    /// Resuming on Run; stays while the standby sequence runs (each call advances it);
    /// PreparedSD once it has ended.
    unsigned int check_transition(const virtio::Virtio_command& command) override;

  private:
    std::shared_ptr<Service_handler_interface> m_service_handler;
    std::shared_ptr<state_notifier::State_notifier_interface> m_state_notifier;
    std::shared_ptr<fast_shutdown::Fast_shutdown_handler_interface> m_fast_shutdown_handler;
};

} // namespace vela::ap::statemanager::states
