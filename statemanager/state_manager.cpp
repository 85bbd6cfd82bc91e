#include "statemanager/state_manager.hpp"

#include "ara/log/logging.h"

#include <chrono>
#include <thread>

namespace vela::ap::statemanager
{

namespace
{

/// Order in which the slots are filled (the prepared-for-shutdown state after resuming).
constexpr states::State_id s_creation_order[] = {states::s_starting_up,
                                                 states::s_running,
                                                 states::s_nm_controlled,
                                                 states::s_post_run,
                                                 states::s_shutting_down,
                                                 states::s_preparing,
                                                 states::s_resuming,
                                                 states::s_prepared_sd};

} // namespace

State_manager::State_manager(const config::State_manager_config_abstract& config,
                             const std::shared_ptr<Service_handler_interface>& service_handler,
                             const std::shared_ptr<Em_interface_abstract>& em_interface,
                             std::unique_ptr<virtio::Virtio_interface_abstract> virtio_interface,
                             std::unique_ptr<phm::Supervision_manager_interface> supervision,
                             State_factory_builder state_factory_builder,
                             std::shared_ptr<status::Machine_recorder_interface> recorder)
    : m_config(config)
    , m_service_handler(service_handler)
    , m_em_interface(em_interface)
    , m_virtio_interface(std::move(virtio_interface))
    , m_supervision(std::move(supervision))
    , m_state_factory_builder(std::move(state_factory_builder))
    , m_recorder(std::move(recorder))
{
}

bool State_manager::init()
{
    if (m_virtio_interface && !m_virtio_interface->init(s_input_directory))
    {
        ara::log::LogError() << "Statewarden failed to initialize VirtIO";
        return false;
    }

    if (m_service_handler)
    {
        m_service_handler->init();
    }

    {
        // The states keep their own shared references to what the factory created.
        const std::unique_ptr<states::State_factory_abstract> factory =
            m_state_factory_builder
                ? m_state_factory_builder(m_config, m_service_handler, m_em_interface)
                : std::make_unique<states::State_factory>(m_config, m_service_handler, m_em_interface);
        for (const states::State_id id : s_creation_order)
        {
            m_states[id] = factory->create_state(id);
            if (!m_states[id])
            {
                ara::log::LogError() << "Statewarden failed to create state " << id;
                return false;
            }
        }
    }

    m_states[m_current_state]->entering_state();
    // A termination signal that arrived while initialising is not forgotten.
    m_run_flag.store(!m_signal_received.load());
    return true;
}

void State_manager::run()
{
    (void)m_application_client.ReportApplicationState(ara::exec::ApplicationState::kRunning);
    ara::log::LogInfo() << "Statewarden daemon started";

    while (m_run_flag.load())
    {
        run_cyclic_task();
    }

    if (m_signal_received.exchange(false))
    {
        ara::log::LogInfo() << "SIGTERM received!";
        ara::log::LogInfo() << "Shutting down Statewarden";
    }

    if (m_service_handler)
    {
        m_service_handler->deinit();
    }
    ara::log::LogInfo() << "Statewarden reporting kTerminating to EM";
    (void)m_application_client.ReportApplicationState(ara::exec::ApplicationState::kTerminating);
}

void State_manager::run_cyclic_task()
{
    ara::log::LogVerbose() << "Starting Statewarden run_cyclic_task";
    if (!m_run_flag.load())
    {
        ara::log::LogError() << "Statewarden not initialized";
        return;
    }

    if (m_supervision)
    {
        m_supervision->report_alive_status();
    }

    // The loop's only wait: it returns early when input arrives.
    const std::uint32_t period_ms = m_config.get_main_function_period();
    virtio::Virtio_command command = virtio::Virtio_command::Non;
    if (m_virtio_interface)
    {
        command = m_virtio_interface->get_command(period_ms);
    }
    else
    {
        std::this_thread::sleep_for(std::chrono::milliseconds{period_ms});
    }

    const unsigned int next = m_states[m_current_state]->check_transition(command);
    if (next == states::s_no_transition)
    {
        m_states[m_current_state]->tick();
        return;
    }

    const states::State_id target = next < states::s_no_transition ? next : states::s_shutting_down;
    ara::log::LogInfo() << "Statewarden transition from" << m_states[m_current_state]->get_name() << " to "
                        << m_states[target]->get_name();
    const bool keep_command = survives_transition(command, m_current_state, target);
    const states::State_id from = m_current_state;
    m_current_state = target;
    // Timed only for the status report: two clock reads per transition, none per cycle.
    const auto entry_started = m_recorder ? std::chrono::steady_clock::now() : std::chrono::steady_clock::time_point{};
    m_states[m_current_state]->entering_state();
    if (m_recorder)
    {
        m_recorder->transition(
            status::Transition_facts{from, target, command, entry_started, std::chrono::steady_clock::now()});
    }

    if (m_current_state == states::s_shutting_down && !m_states[m_current_state]->is_forced_shutdown())
    {
        m_run_flag.store(false);
    }

    // Also when the transition was not caused by the queued command.
    if (m_virtio_interface && !keep_command)
    {
        m_virtio_interface->command_consumed();
    }
}

bool State_manager::survives_transition(virtio::Virtio_command command, states::State_id from, states::State_id to)
{
    // The power key pressed while standby is being prepared is not acted on by Preparing; PreparedSD
    // acts on it (a forced shutdown) once the standby sequence has ended. Consuming it on the way
    // would leave the machine in standby although the hypervisor asked for power-off.
    return command == virtio::Virtio_command::Shutdown && from == states::s_preparing && to == states::s_prepared_sd;
}

void State_manager::shutdown()
{
    ara::log::LogInfo() << "Shutting down Statewarden";
    m_run_flag.store(false);
}

void State_manager::shutdown_from_signal() noexcept
{
    m_signal_received.store(true);
    m_run_flag.store(false);
}

} // namespace vela::ap::statemanager
