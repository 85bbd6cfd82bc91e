#include "statemanager/states/prepared_sd_state.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::states
{

PreparedSD_state::PreparedSD_state(const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update)
    : State_interface(shared_memory_update, s_state_names[s_prepared_sd])
{
}

void PreparedSD_state::entering_state()
{
    ara::log::LogInfo() << "Entering PreparedSD state";
    m_shared_memory_update->prepared_4_sd();
}

unsigned int PreparedSD_state::check_transition(const virtio::Virtio_command& command)
{
    if (command == virtio::Virtio_command::Run)
    {
        ara::log::LogVerbose() << "Transition from PreparedSD to Resuming";
        return s_resuming;
    }
    if (command == virtio::Virtio_command::Shutdown)
    {
        // The machine is already in standby: the shutting-down state may take the fast path.
        set_forced_shutdown_flag(true);
        ara::log::LogVerbose() << "Transition from PreparedSD to Shutting Down";
        return s_shutting_down;
    }
    return s_no_transition;
}

} // namespace vela::ap::statemanager::states
