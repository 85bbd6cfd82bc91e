#include "statemanager/states/state_factory.hpp"

#include "statemanager/fast_shutdown/fast_shutdown_handler.hpp"
#include "statemanager/placeholders/placeholders.hpp"
#include "statemanager/smw/shared_memory_update.hpp"

#include <chrono>

namespace vela::ap::statemanager::states
{

State_factory::State_factory(const config::State_manager_config_abstract& config,
                             const std::shared_ptr<Service_handler_interface>& service_handler,
                             const std::shared_ptr<Em_interface_abstract>& em_interface,
                             const std::string& poweroff_path)
    : m_config(config)
    , m_service_handler(service_handler)
    , m_em_interface(em_interface)
    , m_shared_memory_update(
          std::make_shared<smw::Shared_memory_update>(config.get_smw_update_status_path()))
    , m_state_notifier(std::make_shared<placeholders::State_notifier_placeholder>(
          std::chrono::seconds{config.get_app_timeout()}, std::chrono::seconds{config.get_dm_timeout()}))
    , m_fast_shutdown_handler(std::make_shared<fast_shutdown::Fast_shutdown_handler>(poweroff_path))
{
}

std::unique_ptr<State_interface> State_factory::create_state(unsigned int id) const
{
    if (id >= s_state_count)
    {
        return nullptr;
    }
    return std::make_unique<placeholders::State_placeholder>(m_shared_memory_update, s_state_names[id]);
}

} // namespace vela::ap::statemanager::states
