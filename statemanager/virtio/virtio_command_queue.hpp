#pragma once

#include "statemanager/virtio/virtio_command.hpp"

#include <deque>

namespace vela::ap::statemanager::virtio
{

/// The hypervisor's commands not yet acted on, oldest first, and the rules by which key presses
/// enter it. A key's command is dropped when it repeats the command received last; the power key
/// empties the queue and leaves its Shutdown as the only command, and is dropped as a repetition
/// only while that Shutdown is still queued, so a press after its Shutdown was removed (by a
/// transition that did not act on it) always queues a new one. Not thread-safe: one thread owns it.
class Virtio_command_queue final
{
  public:
    /// A key press meaning command (not Shutdown: see power_key()).
    void add_command(Virtio_command command);
    /// A press of the power key.
    void power_key();
    /// The oldest command, or Non when the queue is empty.
    Virtio_command front() const;
    /// Removes the oldest command, if any.
    void consume();
    /// The queued commands, oldest first.
    const std::deque<Virtio_command>& commands() const noexcept { return m_commands; }

  private:
    /// Appends command as a newly received one.
    void accept(Virtio_command command);

    std::deque<Virtio_command> m_commands;
    Virtio_command m_last_command{Virtio_command::Non};
};

} // namespace vela::ap::statemanager::virtio
