#pragma once

#include "statemanager/config/state_manager_config_abstract.hpp"
#include "statemanager/em/em_interface_abstract.hpp"
#include "statemanager/fast_shutdown/fast_shutdown_handler_interface.hpp"
#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/state_notifier/state_notifier.hpp"
#include "statemanager/state_notifier/state_notifier_interface.hpp"
#include "statemanager/states/state_interface.hpp"
#include "statemanager/status/machine_recorder_interface.hpp"
#include "statemanager/status/round_recorder_interface.hpp"
#include "tarn1/service_manager/service_manager_interface.hpp"

#include <memory>
#include <string>

namespace vela::ap::statemanager::states
{

/// Creates the states of the state machine. Used on the main thread during initialisation.
class State_factory_abstract
{
  public:
    virtual ~State_factory_abstract() = default;

    /// A new state of the given id (0 to 7); an empty pointer for any other id.
    virtual std::unique_ptr<State_interface> create_state(unsigned int id) const = 0;

  protected:
    State_factory_abstract() = default;
    State_factory_abstract(const State_factory_abstract&) = default;
    State_factory_abstract& operator=(const State_factory_abstract&) = default;
};

/// Creates the collaborators the states share (the VM status writer, the state notifier and the
/// fast-shutdown handler) and then the states themselves, which keep shared references to them,
/// so the factory may be discarded once the states exist.
class State_factory : public State_factory_abstract
{
  public:
    /// The power-management daemon's command pipe.
    static constexpr const char* s_poweroff_path = "/run/adaptive/poweroff";

    /// Opens the VM status file of the configuration and the power-off command pipe at
    /// poweroff_path, and creates the state notifier, whose server client_states_factory creates
    /// (default: on the notification socket). The status words also go to service_manager when
    /// one is given. The post-run state tells machine_recorder its knock-out counter, the notifier
    /// tells round_recorder how each client answered, when they are given.
    State_factory(const config::State_manager_config_abstract& config,
                  const std::shared_ptr<Service_handler_interface>& service_handler,
                  const std::shared_ptr<Em_interface_abstract>& em_interface,
                  const std::string& poweroff_path = s_poweroff_path,
                  const state_notifier::Client_states_factory& client_states_factory =
                      state_notifier::default_client_states_factory(),
                  const std::shared_ptr<tarn1::service_manager::Service_manager_interface>& service_manager = nullptr,
                  const std::shared_ptr<status::Machine_recorder_interface>& machine_recorder = nullptr,
                  const std::shared_ptr<status::Round_recorder_interface>& round_recorder = nullptr);

    /// The same with the shared collaborators given instead of created (for tests and for
    /// builds that bring their own).
    State_factory(const config::State_manager_config_abstract& config,
                  const std::shared_ptr<Service_handler_interface>& service_handler,
                  const std::shared_ptr<Em_interface_abstract>& em_interface,
                  const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                  const std::shared_ptr<state_notifier::State_notifier_interface>& state_notifier,
                  const std::shared_ptr<fast_shutdown::Fast_shutdown_handler_interface>& fast_shutdown_handler);

    /// Builds the state of this id with the configuration values read now; the states share the
    /// status writer, the notifier and the fast-shutdown handler.
    std::unique_ptr<State_interface> create_state(unsigned int id) const override;

  private:
    const config::State_manager_config_abstract& m_config;
    std::shared_ptr<Service_handler_interface> m_service_handler;
    std::shared_ptr<Em_interface_abstract> m_em_interface;
    std::shared_ptr<smw::Shared_memory_update_interface> m_shared_memory_update;
    std::shared_ptr<state_notifier::State_notifier_interface> m_state_notifier;
    std::shared_ptr<fast_shutdown::Fast_shutdown_handler_interface> m_fast_shutdown_handler;
    std::shared_ptr<status::Machine_recorder_interface> m_machine_recorder;
};

} // namespace vela::ap::statemanager::states
