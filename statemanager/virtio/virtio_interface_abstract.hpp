#pragma once

#include "statemanager/virtio/virtio_command.hpp"

#include <string>

namespace vela::ap::statemanager::virtio
{

/// The state machine's view of the hypervisor's virtual input devices: a queue of commands
/// filled from key events. Every operation is called on the main thread only.
class Virtio_interface_abstract
{
  public:
    virtual ~Virtio_interface_abstract() = default;

    /// Opens and registers the input devices found in the given directory ("/dev/input").
    /// Called once by the state manager's initialisation; false when the input is unusable.
    virtual bool init(std::string directory) = 0;

    /// Waits at most the given milliseconds for input events (not at all while no device is
    /// registered), then returns the head of the command queue without removing it, or Non when
    /// the queue is empty. This wait is what paces the main loop.
    virtual Virtio_command get_command(unsigned int timeout_ms) = 0;

    /// Removes the head of the command queue, if there is one. Called after every transition.
    virtual void command_consumed() = 0;

  protected:
    Virtio_interface_abstract() = default;
    Virtio_interface_abstract(const Virtio_interface_abstract&) = default;
    Virtio_interface_abstract& operator=(const Virtio_interface_abstract&) = default;
};

} // namespace vela::ap::statemanager::virtio
