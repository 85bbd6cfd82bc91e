#include "statemanager/virtio/virtio_command_queue.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::virtio
{

void Virtio_command_queue::add_command(Virtio_command command)
{
    if (command == m_last_command)
    {
        return;
    }
    accept(command);
}

void Virtio_command_queue::power_key()
{
    // While the last command received is Shutdown, nothing was queued after it, so a non-empty
    // queue holds just that Shutdown and the press changes nothing.
    if (m_last_command == Virtio_command::Shutdown && !m_commands.empty())
    {
        return;
    }
    m_commands.clear();
    accept(Virtio_command::Shutdown);
}

Virtio_command Virtio_command_queue::front() const
{
    return m_commands.empty() ? Virtio_command::Non : m_commands.front();
}

void Virtio_command_queue::consume()
{
    if (m_commands.empty())
    {
        return;
    }
    const Virtio_command consumed = m_commands.front();
    m_commands.pop_front();
    ara::log::LogInfo() << "Consumed VirtIO command: " << toString(consumed);
}

void Virtio_command_queue::accept(Virtio_command command)
{
    m_last_command = command;
    ara::log::LogInfo() << "New command received" << toString(command);
    m_commands.push_back(command);
}

} // namespace vela::ap::statemanager::virtio
