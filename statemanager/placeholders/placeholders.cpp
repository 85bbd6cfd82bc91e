#include "statemanager/placeholders/placeholders.hpp"

#include "ara/log/logging.h"

#include <thread>

namespace vela::ap::statemanager::placeholders
{

void announce_placeholder(const std::string& what)
{
    ara::log::LogWarn() << "placeholder: " << what << " not built yet";
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

Restart_command_writer_placeholder::Restart_command_writer_placeholder(const std::string& path)
{
    announce_placeholder("restart command writer for " + path);
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

State_placeholder::State_placeholder(const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                                     const std::string& name)
    : State_interface(shared_memory_update, name)
{
    announce_placeholder("state \"" + name + "\"");
}

} // namespace vela::ap::statemanager::placeholders
