#include "statemanager/statewarden_builder.hpp"

#include "statemanager/smw/shared_memory_update.hpp"
#include "statemanager/states/state_factory.hpp"

#include <chrono>
#include <utility>

namespace vela::ap::statemanager
{

namespace
{

struct Shared_collaborators
{
    std::shared_ptr<smw::Shared_memory_update> shared_memory_update;
    std::shared_ptr<state_notifier::State_notifier> state_notifier;
    std::shared_ptr<fast_shutdown::Fast_shutdown_handler> fast_shutdown_handler;
};

// The one place that creates what the states share. The status file is opened (and emptied)
// before the notification socket listens, and the power-off pipe is opened last.
Shared_collaborators create_shared_collaborators(const config::State_manager_config_abstract& config,
                                                 const Shared_collaborator_settings& settings)
{
    Shared_collaborators created;
    created.shared_memory_update =
        std::make_shared<smw::Shared_memory_update>(config.get_smw_update_status_path(), settings.service_manager);
    created.state_notifier =
        std::make_shared<state_notifier::State_notifier>(std::chrono::seconds{config.get_app_timeout()},
                                                         std::chrono::seconds{config.get_dm_timeout()},
                                                         settings.client_states_factory,
                                                         utilities::Log_limits{},
                                                         settings.round_recorder);
    created.fast_shutdown_handler = std::make_shared<fast_shutdown::Fast_shutdown_handler>(settings.poweroff_path);
    return created;
}

} // namespace

states::State_factory_builder shared_collaborators_builder(Shared_collaborator_settings settings)
{
    return [settings = std::move(settings)](const config::State_manager_config_abstract& config,
                                            const std::shared_ptr<Service_handler_interface>& service_handler,
                                            const std::shared_ptr<Em_interface_abstract>& em_interface)
    {
        const Shared_collaborators created = create_shared_collaborators(config, settings);
        return std::make_unique<states::State_factory>(config,
                                                       service_handler,
                                                       em_interface,
                                                       created.shared_memory_update,
                                                       created.state_notifier,
                                                       created.fast_shutdown_handler,
                                                       settings.machine_recorder);
    };
}

} // namespace vela::ap::statemanager

namespace vela::ap::statemanager::states
{

State_factory::State_factory(const config::State_manager_config_abstract& config,
                             const std::shared_ptr<Service_handler_interface>& service_handler,
                             const std::shared_ptr<Em_interface_abstract>& em_interface)
    : m_config(config)
    , m_service_handler(service_handler)
    , m_em_interface(em_interface)
{
    Shared_collaborators created = create_shared_collaborators(config, Shared_collaborator_settings{});
    m_shared_memory_update = std::move(created.shared_memory_update);
    m_state_notifier = std::move(created.state_notifier);
    m_fast_shutdown_handler = std::move(created.fast_shutdown_handler);
}

} // namespace vela::ap::statemanager::states
