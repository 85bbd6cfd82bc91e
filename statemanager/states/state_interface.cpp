#include "statemanager/states/state_interface.hpp"

namespace vela::ap::statemanager::states
{

State_interface::Runtime_config State_interface::runtime_config{};

State_interface::State_interface(const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                                 const std::string& name)
    : m_shared_memory_update(shared_memory_update)
    , m_name(name)
{
}

unsigned int State_interface::check_transition(const virtio::Virtio_command& /*command*/)
{
    return s_no_transition;
}

} // namespace vela::ap::statemanager::states
