#pragma once

#include "ara/exec/application_client.h"
#include "statemanager/config/state_manager_config_abstract.hpp"
#include "statemanager/em/em_interface_abstract.hpp"
#include "statemanager/phm/supervision_manager_interface.hpp"
#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/states/state_factory.hpp"
#include "statemanager/states/state_ids.hpp"
#include "statemanager/states/state_interface.hpp"
#include "statemanager/status/machine_recorder_interface.hpp"
#include "statemanager/virtio/virtio_interface_abstract.hpp"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace vela::ap::statemanager
{

/// Owns the eight states and drives them from one cyclic loop on the main thread: each cycle
/// reports aliveness, waits up to one main-function period for a hypervisor command, and either
/// ticks the current state or performs the transition it asks for. Reports the daemon's
/// application state to execution management.
class State_manager final
{
  public:
    /// Builds the factory that init() uses to create the states; the daemon's builder creates what
    /// the states share (status writer, notifier, fast-shutdown handler) when init() calls it.
    /// Builds the factory that init() uses to create the states; the daemon's builder creates what
    /// the states share (status writer, notifier, fast-shutdown handler) when init() calls it.
    using State_factory_builder = states::State_factory_builder;

    /// The directory of the hypervisor's virtual input devices.
    static constexpr const char* s_input_directory = "/dev/input";

    /// Stores the collaborators; the states are created by init() through state_factory_builder, or,
    /// without one, through a State_factory that creates the shared collaborators on the machine's
    /// own paths.
    /// The virtual input may be empty; then each cycle waits one period and sees no command.
    /// recorder, when given, learns every state change once the new state's entry actions are done.
    State_manager(const config::State_manager_config_abstract& config,
                  const std::shared_ptr<Service_handler_interface>& service_handler,
                  const std::shared_ptr<Em_interface_abstract>& em_interface,
                  std::unique_ptr<virtio::Virtio_interface_abstract> virtio_interface,
                  std::unique_ptr<phm::Supervision_manager_interface> supervision,
                  State_factory_builder state_factory_builder = nullptr,
                  std::shared_ptr<status::Machine_recorder_interface> recorder = nullptr);
    ~State_manager() = default;

    State_manager(const State_manager&) = delete;
    State_manager& operator=(const State_manager&) = delete;

    /// Initialises the virtual input and the service handler, creates the states and enters the
    /// starting-up state. Call once, before run(). False when the virtual input is unusable.
    [[nodiscard]] bool init();

    /// Reports kRunning, loops while the run flag is set, deinitialises the service handler and
    /// reports kTerminating. Returns when the loop has ended.
    void run();

    /// One cycle of the loop. After a transition the head of the command queue is removed, also
    /// when that command did not cause it; the one exception is a Shutdown that is waiting while
    /// Preparing passes to PreparedSD, which PreparedSD then acts on.
    void run_cyclic_task();

    /// Requests the end of the loop after the current cycle (logs, then clears the run flag).
    void shutdown();

    /// The same request from a signal handler: only lock-free atomic stores. The lines a
    /// termination signal owes the log are written by run() once the loop has ended.
    void shutdown_from_signal() noexcept;

  private:
    /// True when the command at the head of the queue must stay queued across this transition
    /// instead of being removed: only a Shutdown while Preparing passes to PreparedSD on its own.
    static bool survives_transition(virtio::Virtio_command command, states::State_id from, states::State_id to);

    const config::State_manager_config_abstract& m_config;
    std::shared_ptr<Service_handler_interface> m_service_handler;
    std::shared_ptr<Em_interface_abstract> m_em_interface;
    std::unique_ptr<virtio::Virtio_interface_abstract> m_virtio_interface;
    std::unique_ptr<phm::Supervision_manager_interface> m_supervision;
    ara::exec::ApplicationClient m_application_client;
    // Destroyed from slot 7 down to slot 0, before everything above.
    std::array<std::unique_ptr<states::State_interface>, states::s_state_count> m_states;
    // Main thread only.
    std::uint32_t m_current_state{states::s_starting_up};
    // Written by the main thread and by signal handlers (any thread); read by the main thread.
    std::atomic<bool> m_run_flag{false};
    // Set by a signal handler, taken by the main thread after the loop to write the deferred log.
    std::atomic<bool> m_signal_received{false};
    State_factory_builder m_state_factory_builder;
    std::shared_ptr<status::Machine_recorder_interface> m_recorder;

    static_assert(std::atomic<bool>::is_always_lock_free, "the run flag is written from signal handlers");
};

} // namespace vela::ap::statemanager
