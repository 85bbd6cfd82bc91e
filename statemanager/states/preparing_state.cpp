#include "statemanager/states/preparing_state.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::states
{

Preparing_state::Preparing_state(
    const std::shared_ptr<Service_handler_interface>& service_handler,
    const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
    const std::shared_ptr<state_notifier::State_notifier_interface>& state_notifier,
    const std::shared_ptr<fast_shutdown::Fast_shutdown_handler_interface>& fast_shutdown_handler)
    : State_interface(shared_memory_update, s_state_names[s_preparing])
    , m_service_handler(service_handler)
    , m_state_notifier(state_notifier)
    , m_fast_shutdown_handler(fast_shutdown_handler)
{
}

void Preparing_state::entering_state()
{
    ara::log::LogInfo() << "Entering preparing state";
    m_shared_memory_update->preparing();
    m_state_notifier->request_standby();
    m_fast_shutdown_handler->process_lookup();
    m_service_handler->standby();
}

unsigned int Preparing_state::check_transition(const virtio::Virtio_command& command)
{
    if (command == virtio::Virtio_command::Run)
    {
        ara::log::LogVerbose() << "Transition from Preparing to Resuming";
        return s_resuming;
    }
    if (m_state_notifier->check_request_status())
    {
        return s_no_transition;
    }
    return s_prepared_sd;
}

} // namespace vela::ap::statemanager::states
