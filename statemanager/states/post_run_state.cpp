#include "statemanager/states/post_run_state.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::states
{

using virtio::Virtio_command;

Post_run_state::Post_run_state(const std::shared_ptr<Service_handler_interface>& service_handler,
                               const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                               unsigned int knockout_timer,
                               std::shared_ptr<status::Machine_recorder_interface> recorder)
    : State_interface(shared_memory_update, s_state_names[s_post_run])
    , m_service_handler(service_handler)
    , m_knockout_handler(knockout_timer)
    , m_recorder(std::move(recorder))
{
}

void Post_run_state::entering_state()
{
    ara::log::LogInfo() << "Entering post run state";
    m_shared_memory_update->post_run();
    m_knockout_handler.reset_knockout_timer();
    record_knockout();
}

void Post_run_state::tick()
{
    ara::log::LogDebug() << "Post rumn tick action";
    m_knockout_handler.update_knockout_timer();
    record_knockout();
}

void Post_run_state::record_knockout() const
{
    if (m_recorder)
    {
        m_recorder->knockout_changed(m_knockout_handler.get_knockout_timer_value(),
                                     m_knockout_handler.get_initial_value());
    }
}

bool Post_run_state::is_released() const
{
    return !m_service_handler->apps_keep_ecu_alive() || m_knockout_handler.is_knockout_timer_expired();
}

unsigned int Post_run_state::check_transition(const virtio::Virtio_command& command)
{
    // Communication wanted again wins over every command, a queued Shutdown included.
    if (m_service_handler->apps_keep_com_alive())
    {
        ara::log::LogVerbose() << "Transition form Post Run state to NmControlled possible.";
        return s_nm_controlled;
    }
    // The ECU-alive answer changes on middleware threads, so each test asks again.
    if (command == Virtio_command::Shutdown || (is_released() && !get_prepare_SD_flag()))
    {
        ara::log::LogVerbose() << "Transition form Post Run state to Shutting Down possible.";
        set_prepare_SD_flag(false);
        return s_shutting_down;
    }
    if (command == Virtio_command::Run)
    {
        ara::log::LogVerbose() << "Transition form Post Run state to Running possible.";
        set_prepare_SD_flag(false);
        return s_running;
    }
    if (command == Virtio_command::PrepareSD || (is_released() && get_prepare_SD_flag()))
    {
        ara::log::LogVerbose() << "Transition form Post Run state to Preparing (transient) possible.";
        set_prepare_SD_flag(false);
        return s_preparing;
    }
    return s_no_transition;
}

} // namespace vela::ap::statemanager::states
