#include "statemanager/states/startingup_state.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::states
{

Startingup_state::Startingup_state(const std::shared_ptr<Service_handler_interface>& service_handler,
                                   const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                                   bool nm_usage_allowed)
    : State_interface(shared_memory_update, s_state_names[s_starting_up])
    , m_service_handler(service_handler)
    , m_nm_usage_allowed(nm_usage_allowed)
{
}

void Startingup_state::entering_state()
{
    ara::log::LogInfo() << "Entering startup state";
    m_shared_memory_update->starting_up();
}

unsigned int Startingup_state::check_transition(const virtio::Virtio_command& /*command*/)
{
    if (!m_nm_usage_allowed)
    {
        return s_running;
    }
    if (m_service_handler->nm_interface_available())
    {
        return s_running;
    }
    ara::log::LogInfo() << "Transition form startup to running not possible. Waiting for nm interface.";
    return s_no_transition;
}

} // namespace vela::ap::statemanager::states
