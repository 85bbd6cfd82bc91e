#include "statemanager/states/shutting_down_state.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::states
{

Shutting_down_state::Shutting_down_state(
    const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
    const std::shared_ptr<Em_interface_abstract>& em_interface,
    unsigned int pm_timeout_s,
    const std::shared_ptr<fast_shutdown::Fast_shutdown_handler_interface>& fast_shutdown_handler)
    : State_interface(shared_memory_update, s_state_names[s_shutting_down])
    , m_em_interface(em_interface)
    , m_pm_timeout(static_cast<std::chrono::seconds::rep>(pm_timeout_s))
    , m_fast_shutdown_handler(fast_shutdown_handler)
{
}

void Shutting_down_state::entering_state()
{
    ara::log::LogInfo() << "Entering shutdown state";
    m_shared_memory_update->shutting_down();
    if (is_forced_shutdown())
    {
        (void)forced_shutdown();
    }
    else
    {
        (void)normal_shutdown();
    }
}

bool Shutting_down_state::is_forced_shutdown()
{
    if (!get_forced_shutdown_flag())
    {
        return false;
    }
    return m_fast_shutdown_handler->is_possible();
}

bool Shutting_down_state::normal_shutdown()
{
    ara::log::LogInfo() << "Normal shutdown executed";
    m_em_interface->request_shutdown();
    return true;
}

bool Shutting_down_state::forced_shutdown()
{
    ara::log::LogInfo() << "Fast shutdown executed";
    // 64-bit milliseconds: the largest 32-bit second count still fits.
    m_fast_shutdown_handler->start_fast_shutdown(std::chrono::duration_cast<std::chrono::milliseconds>(m_pm_timeout));
    return true;
}

} // namespace vela::ap::statemanager::states
