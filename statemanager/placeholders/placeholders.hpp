#pragma once

// Stand-ins for the collaborators of the state manager that are not built yet. Each one
// implements its abstract base with the least behaviour that keeps the daemon running, and says
// once, at a warning, that it is a placeholder. Every later component removes its own
// placeholder from here and the wiring in main and the state factory.

#include "statemanager/em/em_interface_abstract.hpp"
#include "statemanager/fast_shutdown/fast_shutdown_handler_interface.hpp"
#include "statemanager/phm/supervision_manager_interface.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/smw/shared_memory_writer_interface.hpp"
#include "statemanager/state_notifier/state_notifier_interface.hpp"
#include "statemanager/states/state_interface.hpp"
#include "statemanager/virtio/virtio_interface_abstract.hpp"

#include "ara/phm/supervision_entity.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace vela::ap::statemanager::placeholders
{

/// Logs at warning level "placeholder: <what> not built yet".
void announce_placeholder(const std::string& what);

/// Machine-state requests that reach nobody.
class Em_interface_placeholder final : public Em_interface_abstract
{
public:
    Em_interface_placeholder();
    void request_shutdown() override {}
    void request_running() override {}
    bool check_for_running_state() override { return false; }
    ara::exec::StateReturnType StateClient_SetState(const std::string& /*function_group*/,
                                                    const std::string& /*state*/) override
    {
        return ara::exec::StateReturnType::kGeneralError;
    }
    ara::exec::StateReturnType GetState(const std::string& /*function_group*/,
                                        std::string& /*state*/,
                                        ara::exec::Function_group_state_transition& /*transition*/) override
    {
        return ara::exec::StateReturnType::kGeneralError;
    }
};

/// No input devices: accepts any directory, never yields a command, and paces the loop by
/// waiting the whole bound of every get_command().
class Virtio_interface_placeholder final : public virtio::Virtio_interface_abstract
{
public:
    Virtio_interface_placeholder();
    bool init(std::string directory) override;
    virtio::Virtio_command get_command(unsigned int timeout_ms) override;
    void command_consumed() override {}
};

/// Alive reporting that reports nothing.
class Supervision_manager_placeholder final : public phm::Supervision_manager_interface
{
public:
    explicit Supervision_manager_placeholder(std::unique_ptr<ara::phm::SupervisionEntityInterface> entity);
    void report_alive_status() override {}

private:
    std::unique_ptr<ara::phm::SupervisionEntityInterface> m_entity;
};

/// A restart command writer that writes nothing (and says it succeeded).
class Restart_command_writer_placeholder final : public smw::Shared_memory_writer_interface
{
public:
    explicit Restart_command_writer_placeholder(const std::string& path);
    bool write_to_memory(std::string /*data*/) override { return true; }
};

/// A VM status writer that writes nothing.
class Shared_memory_update_placeholder final : public smw::Shared_memory_update_interface
{
public:
    explicit Shared_memory_update_placeholder(const std::string& path);
    void starting_up() override {}
    void running() override {}
    void shutting_down() override {}
    void run_nm_controlled() override {}
    void post_run() override {}
    void preparing() override {}
    void prepared_4_sd() override {}
    void resuming() override {}
};

/// A notifier whose sequences end at once: nobody is told of standby or resume.
class State_notifier_placeholder final : public state_notifier::State_notifier_interface
{
public:
    State_notifier_placeholder(std::chrono::seconds app_timeout, std::chrono::seconds dm_timeout);
    void request_standby() override {}
    void request_resume() override {}
    bool check_request_status() override { return false; }
};

/// A fast-shutdown handler that is never possible.
class Fast_shutdown_handler_placeholder final : public fast_shutdown::Fast_shutdown_handler_interface
{
public:
    explicit Fast_shutdown_handler_placeholder(const std::string& path);
    void process_lookup() const override {}
    void start_fast_shutdown(std::chrono::milliseconds /*timeout*/) const override {}
    bool is_possible() const override { return false; }
};

/// A state with the base behaviour only: it never leaves and writes no status word.
class State_placeholder final : public states::State_interface
{
public:
    State_placeholder(const std::shared_ptr<smw::Shared_memory_update_interface>& shared_memory_update,
                      const std::string& name);
};

} // namespace vela::ap::statemanager::placeholders
