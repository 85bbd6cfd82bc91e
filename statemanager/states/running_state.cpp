#include "statemanager/states/running_state.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::states
{

using virtio::Virtio_command;

Running_state::Running_state(const std::shared_ptr<Service_handler_interface>& service_handler,
                             const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                             const std::shared_ptr<Em_interface_abstract>& em_interface,
                             bool nm_usage_allowed,
                             bool request_network_on_entry)
    : State_interface(shared_memory_update, s_state_names[s_running])
    , m_service_handler(service_handler)
    , m_em_interface(em_interface)
    , m_nm_usage_allowed(nm_usage_allowed)
    , m_request_network_on_entry(request_network_on_entry)
{
}

void Running_state::entering_state()
{
    ara::log::LogInfo() << "Entering running state";
    m_shared_memory_update->running();
    if (m_nm_usage_allowed && m_request_network_on_entry)
    {
        m_service_handler->request_network();
    }
    m_em_interface->request_running();
}

unsigned int Running_state::check_transition(const virtio::Virtio_command& command)
{
    switch (command)
    {
    case Virtio_command::NmControlled:
        if (!m_nm_usage_allowed)
        {
            // Stays queued: without NM nobody would ever put the machine to sleep.
            return s_no_transition;
        }
        ara::log::LogVerbose()
            << "Transition from Running to NM controlled possible. Prepare SD flag set to false state.";
        set_prepare_SD_flag(false);
        return s_nm_controlled;
    case Virtio_command::NMControlledPrepareSD:
        if (!m_nm_usage_allowed)
        {
            return s_no_transition;
        }
        ara::log::LogVerbose()
            << "Transition from Running to NM controlled possible.  Prepare SD flag set to true state.";
        set_prepare_SD_flag(true);
        return s_nm_controlled;
    case Virtio_command::PrepareSD:
        ara::log::LogVerbose() << "Transition form Running to Preparing Shutting Down possible.";
        return s_preparing;
    case Virtio_command::Shutdown:
        ara::log::LogVerbose() << "Transition form Running to Shutting Down possible.";
        return s_shutting_down;
    case Virtio_command::Non:
    case Virtio_command::Run:
        break;
    }
    return s_no_transition;
}

} // namespace vela::ap::statemanager::states
