#pragma once

// Stand-ins for the collaborators of the state manager that are not built yet. Each one
// implements its abstract base with the least behaviour that keeps the daemon running, and says
// once, at a warning, that it is a placeholder. Every later component removes its own
// placeholder from here and the wiring in main and the state factory.

#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/state_notifier/state_notifier_interface.hpp"
#include "statemanager/states/state_interface.hpp"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace vela::ap::statemanager::placeholders
{

/// Logs at warning level "placeholder: <what> not built yet".
void announce_placeholder(const std::string& what);

/// A notifier whose sequences end at once: nobody is told of standby or resume.
class State_notifier_placeholder final : public state_notifier::State_notifier_interface
{
public:
    State_notifier_placeholder(std::chrono::seconds app_timeout, std::chrono::seconds dm_timeout);
    void request_standby() override {}
    void request_resume() override {}
    bool check_request_status() override { return false; }
};

/// A state with the base behaviour only: it never leaves and writes no status word.
class State_placeholder final : public states::State_interface
{
public:
    State_placeholder(const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                      const std::string& name);
};

} // namespace vela::ap::statemanager::placeholders
