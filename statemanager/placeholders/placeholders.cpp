#include "statemanager/placeholders/placeholders.hpp"

#include "ara/log/logging.h"

#include <thread>

namespace vela::ap::statemanager::placeholders
{

void announce_placeholder(const std::string& what)
{
    ara::log::LogWarn() << "placeholder: " << what << " not built yet";
}

void Com_runtime_placeholder::announce() const
{
    announce_placeholder("communication runtime");
}

Nm_interface_placeholder::Nm_interface_placeholder()
{
    announce_placeholder("UDP NM client");
}

Com_alive_interface_placeholder::Com_alive_interface_placeholder(const std::string& instance)
    : m_instance(instance)
{
    announce_placeholder("COM-alive service " + instance);
}

Cwu_interface_placeholder::Cwu_interface_placeholder(const std::string& instance)
    : m_instance(instance)
{
    announce_placeholder("car-wake-up service " + instance);
}

Service_handler_placeholder::Service_handler_placeholder()
{
    announce_placeholder("service handler");
}

Service_handler_placeholder::Service_handler_placeholder(
    const config::State_manager_config_abstract& /*config*/,
    std::unique_ptr<Nm_interface_abstract> nm,
    std::vector<std::unique_ptr<State_manager_com_alive_interface_abstract>> com_alive,
    std::vector<std::unique_ptr<State_manager_cwu_interface_abstract>> cwu)
    : m_nm(std::move(nm))
    , m_com_alive(std::move(com_alive))
    , m_cwu(std::move(cwu))
{
    announce_placeholder("service handler");
}

Em_interface_placeholder::Em_interface_placeholder()
{
    announce_placeholder("execution-management interface");
}

Virtio_interface_placeholder::Virtio_interface_placeholder()
{
    announce_placeholder("virtual input");
}

bool Virtio_interface_placeholder::init(std::string /*directory*/)
{
    return true;
}

virtio::Virtio_command Virtio_interface_placeholder::get_command(unsigned int timeout_ms)
{
    // Stands for the bounded wait on the input devices, which paces the main loop.
    std::this_thread::sleep_for(std::chrono::milliseconds{timeout_ms});
    return virtio::Virtio_command::Non;
}

Supervision_manager_placeholder::Supervision_manager_placeholder(
    std::unique_ptr<ara::phm::SupervisionEntityInterface> entity)
    : m_entity(std::move(entity))
{
    announce_placeholder("supervision manager");
}

Shared_memory_update_placeholder::Shared_memory_update_placeholder(const std::string& path)
{
    announce_placeholder("VM status writer for " + path);
}

State_notifier_placeholder::State_notifier_placeholder(std::chrono::seconds /*app_timeout*/,
                                                       std::chrono::seconds /*dm_timeout*/)
{
    announce_placeholder("state notifier");
}

Fast_shutdown_handler_placeholder::Fast_shutdown_handler_placeholder(const std::string& path)
{
    announce_placeholder("fast-shutdown handler for " + path);
}

} // namespace vela::ap::statemanager::placeholders
