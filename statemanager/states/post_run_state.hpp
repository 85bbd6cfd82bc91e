#pragma once

#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/states/knockout_handler.hpp"
#include "statemanager/states/state_interface.hpp"
#include "statemanager/status/machine_recorder_interface.hpp"

#include <memory>

namespace vela::ap::statemanager::states
{

/// "Post Run" (3): the network sleeps but an application still keeps the ECU alive. The machine
/// stays until communication is wanted again (back to NM control), the applications release it
/// or the knock-out timer runs out (Shutting down, or Preparing with the prepare-SD flag), or a
/// command arrives.
class Post_run_state final : public State_interface
{
  public:
    /// knockout_timer: how many cycles without a transition the applications get. recorder, when
    /// given, learns the cycles left at each entry and tick.
    Post_run_state(const std::shared_ptr<Service_handler_interface>& service_handler,
                   const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                   unsigned int knockout_timer,
                   std::shared_ptr<status::Machine_recorder_interface> recorder = nullptr);

    /// Writes "postrun" and restarts the knock-out timer.
    void entering_state() override;

    /// Counts one cycle of the knock-out timer down.
    void tick() override;

    /// Tests, first match wins: communication kept alive; Shutdown; released (not kept, or kept
    /// and timed out) with flag false; Run; PrepareSD; released with flag true. Each test asks
    /// the service handler afresh.
    unsigned int check_transition(const virtio::Virtio_command& command) override;

  private:
    /// Nobody keeps the ECU alive any more, or the knock-out timer has run out.
    bool is_released() const;
    void record_knockout() const;

    std::shared_ptr<Service_handler_interface> m_service_handler;
    Knockout_handler m_knockout_handler;
    std::shared_ptr<status::Machine_recorder_interface> m_recorder;
};

} // namespace vela::ap::statemanager::states
