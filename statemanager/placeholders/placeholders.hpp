#pragma once

// Stand-ins for the collaborators of the state manager that are not built yet. Each one
// implements its abstract base with the least behaviour that keeps the daemon running, and says
// once, at a warning, that it is a placeholder. Every later component removes its own
// placeholder from here and the wiring in main and the state factory.

#include "statemanager/config/state_manager_config_abstract.hpp"
#include "statemanager/em/em_interface_abstract.hpp"
#include "statemanager/fast_shutdown/fast_shutdown_handler_interface.hpp"
#include "statemanager/nm/nm_interface_abstract.hpp"
#include "statemanager/phm/supervision_manager_interface.hpp"
#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/services/state_manager_com_alive_interface_abstract.hpp"
#include "statemanager/services/state_manager_cwu_interface_abstract.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/state_notifier/state_notifier_interface.hpp"
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

/// The communication middleware's runtime object. It cannot log when it is created (logging
/// starts after it), so main calls announce() once logging is up.
class Com_runtime_placeholder final
{
public:
    Com_runtime_placeholder(bool /*unused*/, const std::string& /*name*/) {}
    void announce() const;
};

/// No UDP NM: requests go nowhere and the services are never found.
class Nm_interface_placeholder final : public Nm_interface_abstract
{
public:
    Nm_interface_placeholder();
    void release_network(const std::vector<std::uint8_t>& /*pattern*/) override {}
    void request_network(const std::vector<std::uint8_t>& /*pattern*/) override {}
    void set_user_data(const std::vector<std::uint8_t>& /*data*/) override {}
    void start_find_services(const std::function<void()>& /*on_found*/) override {}
    void set_network_state_updated_func(const std::function<void(const std::vector<std::uint8_t>&)>& /*func*/) override
    {
    }
};

/// A COM-alive instance that is never offered.
class Com_alive_interface_placeholder final : public State_manager_com_alive_interface_abstract
{
public:
    explicit Com_alive_interface_placeholder(const std::string& instance);
    const std::string& get_app_id() const override { return m_instance; }
    void set_com_alive_request_cb(Request_callback /*callback*/) override {}
    void set_com_alive_release_cb(Release_callback /*callback*/) override {}

private:
    std::string m_instance;
};

/// A car-wake-up instance that is never offered.
class Cwu_interface_placeholder final : public State_manager_cwu_interface_abstract
{
public:
    explicit Cwu_interface_placeholder(const std::string& instance);
    const std::string& get_app_id() const override { return m_instance; }
    void set_cwu_request_cb(Request_callback /*callback*/) override {}
    void set_cwu_release_cb(Release_callback /*callback*/) override {}

private:
    std::string m_instance;
};

/// No provided services and no network: every query answers false. Keeps what it is given,
/// as the service handler will.
class Service_handler_placeholder final : public Service_handler_interface
{
public:
    Service_handler_placeholder();
    Service_handler_placeholder(const config::State_manager_config_abstract& config,
                                std::unique_ptr<Nm_interface_abstract> nm,
                                std::vector<std::unique_ptr<State_manager_com_alive_interface_abstract>> com_alive,
                                std::vector<std::unique_ptr<State_manager_cwu_interface_abstract>> cwu);
    void init() override {}
    void deinit() override {}
    bool nm_interface_available() const override { return false; }
    bool apps_keep_com_alive() const override { return false; }
    bool apps_keep_ecu_alive() const override { return false; }
    bool is_network_in_use() const override { return false; }
    bool ecu_in_sleep_mode() const override { return false; }
    void request_network() override {}
    void release_network() override {}
    void standby() override {}
    void end_standby() override {}

private:
    std::unique_ptr<Nm_interface_abstract> m_nm;
    std::vector<std::unique_ptr<State_manager_com_alive_interface_abstract>> m_com_alive;
    std::vector<std::unique_ptr<State_manager_cwu_interface_abstract>> m_cwu;
};

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

} // namespace vela::ap::statemanager::placeholders
