#pragma once

#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/states/state_ids.hpp"
#include "statemanager/virtio/virtio_command.hpp"

#include <memory>
#include <string>

namespace vela::ap::statemanager::states
{

/// Base of the eight states. Every operation runs on the main thread, called by the main loop;
/// each virtual operation has a default that does nothing (or stays).
class State_interface
{
  public:
    State_interface(const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                    const std::string& name);
    virtual ~State_interface() = default;

    State_interface(const State_interface&) = delete;
    State_interface& operator=(const State_interface&) = delete;

    /// Called once each time the state becomes the current state.
    virtual void entering_state() {}

    /// Called once per loop cycle in which the state stays current.
    virtual void tick() {}

    /// Never called by the loop; kept for symmetry with entering_state().
    virtual void exiting_state() {}

    /// The id of the next state for this command, or s_no_transition (8) to stay.
    virtual unsigned int check_transition(const virtio::Virtio_command& command);

    /// True while a forced (fast) shutdown is under way; only the shutting-down state says so.
    virtual bool is_forced_shutdown() { return false; }

    /// The state's name ("Starting up", "PreparedSD", ...).
    std::string get_name() const { return m_name; }

    /// Set when the running state passes to NM control with a later prepared shutdown; read by
    /// the NM-controlled and post-run states. Survives state changes.
    static bool get_prepare_SD_flag() { return runtime_config.prepare_SD_flag; }
    static void set_prepare_SD_flag(bool value) { runtime_config.prepare_SD_flag = value; }

    /// Set by the prepared-for-shutdown state when a shutdown command arrives; read by the
    /// shutting-down state. Nothing clears it.
    static bool get_forced_shutdown_flag() { return runtime_config.forced_shutdown_flag; }
    static void set_forced_shutdown_flag(bool value) { runtime_config.forced_shutdown_flag = value; }

  protected:
    /// The VM status writer shared by all states.
    std::shared_ptr<smw::Shared_memory_update_interface> m_shared_memory_update;

  private:
    /// The two process-wide flags; main thread only, so no synchronisation.
    struct Runtime_config
    {
        bool prepare_SD_flag{false};
        bool forced_shutdown_flag{false};
    };
    static Runtime_config runtime_config;

    std::string m_name;
};

} // namespace vela::ap::statemanager::states
