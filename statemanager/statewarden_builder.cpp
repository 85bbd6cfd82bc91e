#include "statemanager/statewarden_builder.hpp"

#include "statemanager/smw/shared_memory_update.hpp"
#include "statemanager/states/state_factory.hpp"

#include <chrono>
#include <utility>

namespace vela::ap::statemanager
{

State_manager::State_factory_builder shared_collaborators_builder(Shared_collaborator_settings settings)
{
    return [settings = std::move(settings)](const config::State_manager_config_abstract& config,
                                            const std::shared_ptr<Service_handler_interface>& service_handler,
                                            const std::shared_ptr<Em_interface_abstract>& em_interface)
    {
        // The status file is opened (and emptied) before the notification socket listens, and the
        // power-off pipe is opened last.
        const auto shared_memory_update =
            std::make_shared<smw::Shared_memory_update>(config.get_smw_update_status_path(), settings.service_manager);
        const auto state_notifier =
            std::make_shared<state_notifier::State_notifier>(std::chrono::seconds{config.get_app_timeout()},
                                                             std::chrono::seconds{config.get_dm_timeout()},
                                                             settings.client_states_factory,
                                                             utilities::Log_limits{},
                                                             settings.round_recorder);
        const auto fast_shutdown_handler =
            std::make_shared<fast_shutdown::Fast_shutdown_handler>(settings.poweroff_path);
        return std::make_unique<states::State_factory>(config,
                                                       service_handler,
                                                       em_interface,
                                                       shared_memory_update,
                                                       state_notifier,
                                                       fast_shutdown_handler,
                                                       settings.machine_recorder);
    };
}

} // namespace vela::ap::statemanager
