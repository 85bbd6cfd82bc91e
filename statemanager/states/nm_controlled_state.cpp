#include "statemanager/states/nm_controlled_state.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::states
{

using virtio::Virtio_command;

Nm_controlled_state::Nm_controlled_state(
    const std::shared_ptr<Service_handler_interface>& service_handler,
    const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update)
    : State_interface(shared_memory_update, s_state_names[s_nm_controlled])
    , m_service_handler(service_handler)
{
}

void Nm_controlled_state::entering_state()
{
    ara::log::LogInfo() << "Entering NM controled state";
    m_shared_memory_update->run_nm_controlled();
    m_service_handler->release_network();
}

unsigned int Nm_controlled_state::check_transition(const virtio::Virtio_command& command)
{
    // The answers change on middleware threads, so every test asks again instead of reusing an
    // earlier answer; && asks each query only when the previous one has not decided the test.
    if (command == Virtio_command::Run)
    {
        ara::log::LogVerbose() << "Transition form NM controled state to Running possible.";
        set_prepare_SD_flag(false);
        return s_running;
    }
    if (m_service_handler->ecu_in_sleep_mode() && m_service_handler->apps_keep_ecu_alive())
    {
        ara::log::LogVerbose() << "Transition form NM controled state to Post Run possible.";
        return s_post_run;
    }
    if (command == Virtio_command::Shutdown ||
        (m_service_handler->ecu_in_sleep_mode() && !m_service_handler->apps_keep_ecu_alive() && !get_prepare_SD_flag()))
    {
        ara::log::LogVerbose() << "Transition form NM controled state to Shutting Down possible.";
        set_prepare_SD_flag(false);
        return s_shutting_down;
    }
    if (command == Virtio_command::PrepareSD ||
        (m_service_handler->ecu_in_sleep_mode() && !m_service_handler->apps_keep_ecu_alive() && get_prepare_SD_flag()))
    {
        ara::log::LogVerbose() << "Transition form NM controled state to Preparing (transient) possible.";
        set_prepare_SD_flag(false);
        return s_preparing;
    }
    return s_no_transition;
}

} // namespace vela::ap::statemanager::states
