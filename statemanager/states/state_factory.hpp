#pragma once

#include "statemanager/config/state_manager_config_abstract.hpp"
#include "statemanager/em/em_interface_abstract.hpp"
#include "statemanager/fast_shutdown/fast_shutdown_handler_interface.hpp"
#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/state_notifier/state_notifier_interface.hpp"
#include "statemanager/states/state_interface.hpp"
#include "statemanager/status/machine_recorder_interface.hpp"

#include <functional>
#include <memory>

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

/// Builds the factory that State_manager::init() uses to create the states.
using State_factory_builder =
    std::function<std::unique_ptr<State_factory_abstract>(const config::State_manager_config_abstract&,
                                                          const std::shared_ptr<Service_handler_interface>&,
                                                          const std::shared_ptr<Em_interface_abstract>&)>;

/// Assembles the states of the state machine from the collaborators they share (the VM status
/// writer, the state notifier and the fast-shutdown handler), which the daemon's builder creates
/// and hands in. The states keep shared references to them, so the factory may be discarded once
/// the states exist.
class State_factory : public State_factory_abstract
{
  public:
    /// Creates the collaborators the states share on the machine's own paths, in this order: the VM
    /// status writer on the configuration's status path, the state notifier with the configuration's
    /// timeouts (its server starts listening) and the fast-shutdown handler on the power-off pipe.
    /// Defined beside the daemon's builder (statemanager/statewarden_builder.cpp), which links what
    /// they need, so that this library itself does no I/O.
    State_factory(const config::State_manager_config_abstract& config,
                  const std::shared_ptr<Service_handler_interface>& service_handler,
                  const std::shared_ptr<Em_interface_abstract>& em_interface);

    /// Stores the collaborators; nothing is opened or started here. The post-run state tells
    /// machine_recorder its knock-out counter when one is given.
    State_factory(const config::State_manager_config_abstract& config,
                  const std::shared_ptr<Service_handler_interface>& service_handler,
                  const std::shared_ptr<Em_interface_abstract>& em_interface,
                  const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                  const std::shared_ptr<state_notifier::State_notifier_interface>& state_notifier,
                  const std::shared_ptr<fast_shutdown::Fast_shutdown_handler_interface>& fast_shutdown_handler,
                  const std::shared_ptr<status::Machine_recorder_interface>& machine_recorder = nullptr);

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
