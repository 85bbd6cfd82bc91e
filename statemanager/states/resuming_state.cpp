#include "statemanager/states/resuming_state.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::states
{

Resuming_state::Resuming_state(const std::shared_ptr<Service_handler_interface>& service_handler,
                               const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                               const std::shared_ptr<state_notifier::State_notifier_interface>& state_notifier)
    : State_interface(shared_memory_update, s_state_names[s_resuming])
    , m_service_handler(service_handler)
    , m_state_notifier(state_notifier)
{
}

void Resuming_state::entering_state()
{
    ara::log::LogInfo() << "Entering resuming state";
    m_shared_memory_update->resuming();
    m_state_notifier->request_resume();
    m_service_handler->end_standby();
}

unsigned int Resuming_state::check_transition(const virtio::Virtio_command& command)
{
    if (command == virtio::Virtio_command::Shutdown)
    {
        ara::log::LogVerbose() << "Transition form Resuming state to Shutting Down possible.";
        return s_shutting_down;
    }
    if (m_state_notifier->check_request_status())
    {
        return s_no_transition;
    }
    return s_running;
}

} // namespace vela::ap::statemanager::states
