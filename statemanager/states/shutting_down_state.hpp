#pragma once

#include "statemanager/em/em_interface_abstract.hpp"
#include "statemanager/fast_shutdown/fast_shutdown_handler_interface.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/states/state_interface.hpp"

#include <chrono>
#include <memory>

namespace vela::ap::statemanager::states
{

/// "Shutting down" (4), final: ends the machine, through execution management (normal shutdown)
/// or, when the machine was already prepared for shutdown and the power-management daemon was
/// found, through the power-off pipe (forced shutdown). Never leaves; later commands stay queued.
class Shutting_down_state final : public State_interface
{
  public:
    /// pm_timeout_s: seconds the power-management daemon gets for the fast power-off.
    Shutting_down_state(const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                        const std::shared_ptr<Em_interface_abstract>& em_interface,
                        unsigned int pm_timeout_s,
                        const std::shared_ptr<fast_shutdown::Fast_shutdown_handler_interface>& fast_shutdown_handler);

    /// Writes "shuttingdown", then runs the forced shutdown if one is possible, else the normal one.
    void entering_state() override;

    /// True when PreparedSD asked for the shutdown and the fast path is possible. While true the
    /// main loop keeps running after this state was entered.
    bool is_forced_shutdown() override;

    /// Asks execution management for the machine state "Shutdown". Always true.
    virtual bool normal_shutdown();

    /// Starts the fast power-off with the power-management timeout in milliseconds. Always true.
    virtual bool forced_shutdown();

  private:
    std::shared_ptr<Em_interface_abstract> m_em_interface;
    std::chrono::seconds m_pm_timeout;
    std::shared_ptr<fast_shutdown::Fast_shutdown_handler_interface> m_fast_shutdown_handler;
};

} // namespace vela::ap::statemanager::states
