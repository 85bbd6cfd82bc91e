#include "statemanager/states/state_factory.hpp"

#include "statemanager/states/nm_controlled_state.hpp"
#include "statemanager/states/post_run_state.hpp"
#include "statemanager/states/prepared_sd_state.hpp"
#include "statemanager/states/preparing_state.hpp"
#include "statemanager/states/resuming_state.hpp"
#include "statemanager/states/running_state.hpp"
#include "statemanager/states/shutting_down_state.hpp"
#include "statemanager/states/startingup_state.hpp"

namespace vela::ap::statemanager::states
{

State_factory::State_factory(
    const config::State_manager_config_abstract& config,
    const std::shared_ptr<Service_handler_interface>& service_handler,
    const std::shared_ptr<Em_interface_abstract>& em_interface,
    const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
    const std::shared_ptr<state_notifier::State_notifier_interface>& state_notifier,
    const std::shared_ptr<fast_shutdown::Fast_shutdown_handler_interface>& fast_shutdown_handler,
    const std::shared_ptr<status::Machine_recorder_interface>& machine_recorder)
    : m_config(config)
    , m_service_handler(service_handler)
    , m_em_interface(em_interface)
    , m_shared_memory_update(shared_memory_update)
    , m_state_notifier(state_notifier)
    , m_fast_shutdown_handler(fast_shutdown_handler)
    , m_machine_recorder(machine_recorder)
{
}

std::unique_ptr<State_interface> State_factory::create_state(unsigned int id) const
{
    // Configuration values are read now, once; the states keep shared references to the
    // collaborators, never copies.
    switch (id)
    {
    case s_starting_up:
        return std::make_unique<Startingup_state>(
            m_service_handler, m_shared_memory_update, m_config.is_nm_usage_allowed());
    case s_running:
        return std::make_unique<Running_state>(m_service_handler,
                                               m_shared_memory_update,
                                               m_em_interface,
                                               m_config.is_nm_usage_allowed(),
                                               m_config.is_request_network_on_entry_run_state_requested());
    case s_nm_controlled:
        return std::make_unique<Nm_controlled_state>(m_service_handler, m_shared_memory_update);
    case s_post_run:
        return std::make_unique<Post_run_state>(
            m_service_handler, m_shared_memory_update, m_config.get_knockout_timer(), m_machine_recorder);
    case s_shutting_down:
        return std::make_unique<Shutting_down_state>(
            m_shared_memory_update, m_em_interface, m_config.get_pm_timeout(), m_fast_shutdown_handler);
    case s_preparing:
        return std::make_unique<Preparing_state>(
            m_service_handler, m_shared_memory_update, m_state_notifier, m_fast_shutdown_handler);
    case s_prepared_sd:
        return std::make_unique<PreparedSD_state>(m_shared_memory_update);
    case s_resuming:
        return std::make_unique<Resuming_state>(m_service_handler, m_shared_memory_update, m_state_notifier);
    default:
        return nullptr;
    }
}

} // namespace vela::ap::statemanager::states
