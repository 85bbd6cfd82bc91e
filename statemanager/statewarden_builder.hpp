#pragma once

#include "statemanager/fast_shutdown/fast_shutdown_handler.hpp"
#include "statemanager/state_notifier/state_notifier.hpp"
#include "statemanager/states/state_factory.hpp"
#include "statemanager/status/machine_recorder_interface.hpp"
#include "statemanager/status/round_recorder_interface.hpp"
#include "tarn1/service_manager/service_manager_interface.hpp"

#include <memory>
#include <string>

namespace vela::ap::statemanager
{

/// What the collaborators the states share are built on; the defaults are the machine's own.
struct Shared_collaborator_settings
{
    /// The power-management daemon's command pipe.
    std::string poweroff_path{fast_shutdown::Fast_shutdown_handler::s_default_path};
    /// The notifier's server (default: on the notification socket).
    state_notifier::Client_states_factory client_states_factory{state_notifier::default_client_states_factory()};
    /// Also told every status word, when given (under systemd the status line follows them).
    std::shared_ptr<tarn1::service_manager::Service_manager_interface> service_manager;
    /// Told the post-run state's knock-out counter, when given.
    std::shared_ptr<status::Machine_recorder_interface> machine_recorder;
    /// Told how each client answered every notification step, when given.
    std::shared_ptr<status::Round_recorder_interface> round_recorder;
};

/// The state factory builder that main hands to the State_manager. Nothing is created until
/// State_manager::init() calls it, after the virtual input and the service handler are up; it then
/// creates, in this order, the VM status writer on the configuration's path, the state notifier
/// with the configuration's timeouts (its server starts listening) and the fast-shutdown handler
/// on the power-off pipe, and returns a State_factory that hands them to the states.
states::State_factory_builder shared_collaborators_builder(Shared_collaborator_settings settings);

} // namespace vela::ap::statemanager
