#pragma once

#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/state_notifier/state_notifier_interface.hpp"
#include "statemanager/states/state_interface.hpp"

#include <memory>

namespace vela::ap::statemanager::states
{

/// "Resuming" (7), transient: tells the diagnostic managers and the applications to resume and
/// restarts NM traffic; passes to Running when the resume sequence has ended, or to Shutting down
/// at once on Shutdown.
class Resuming_state final : public State_interface
{
  public:
    Resuming_state(const std::shared_ptr<Service_handler_interface>& service_handler,
                   const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                   const std::shared_ptr<state_notifier::State_notifier_interface>& state_notifier);

    /// Writes "resuming", starts (or redirects) the resume sequence and restarts NM traffic, in
    /// this order.
    void entering_state() override;

    /// Shutting down on Shutdown; stays while the resume sequence runs (each call advances it);
    /// Running once it has ended.
    unsigned int check_transition(const virtio::Virtio_command& command) override;

  private:
    std::shared_ptr<Service_handler_interface> m_service_handler;
    std::shared_ptr<state_notifier::State_notifier_interface> m_state_notifier;
};

} // namespace vela::ap::statemanager::states
