#pragma once

#include "statemanager/virtio/virtio_command.hpp"

#include <chrono>
#include <cstdint>

namespace vela::ap::statemanager::status
{

/// What the main loop knows of one state change.
struct Transition_facts
{
    std::uint32_t from{0};
    std::uint32_t to{0};
    /// The command at the head of the queue in that cycle (Non when none).
    virtio::Virtio_command command{virtio::Virtio_command::Non};
    /// Just before and just after the new state's entry actions.
    std::chrono::steady_clock::time_point entry_started;
    std::chrono::steady_clock::time_point entry_finished;
};

/// Where the state machine notes its state changes and the post-run knock-out counter. Main
/// thread only.
class Machine_recorder_interface
{
  public:
    virtual ~Machine_recorder_interface() = default;

    /// The loop has changed state and the new state's entry actions are done. Builds the change's
    /// report, logs its summary at info level and publishes it. Main thread, after the entry.
    virtual void transition(const Transition_facts& facts) = 0;

    /// The post-run knock-out counter: cycles left of initial (on entry and at each tick).
    virtual void knockout_changed(std::uint32_t left, std::uint32_t initial) = 0;

  protected:
    Machine_recorder_interface() = default;
    Machine_recorder_interface(const Machine_recorder_interface&) = default;
    Machine_recorder_interface& operator=(const Machine_recorder_interface&) = default;
};

} // namespace vela::ap::statemanager::status
