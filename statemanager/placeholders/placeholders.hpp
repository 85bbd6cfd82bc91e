#pragma once

// Stand-ins for the collaborators of the state manager that are not built yet. Each one
// implements its abstract base with the least behaviour that keeps the daemon running, and says
// once, at a warning, that it is a placeholder. Every later component removes its own
// placeholder from here and the wiring in main and the state factory.

#include "statemanager/config/state_manager_config_abstract.hpp"
#include "statemanager/nm/nm_interface_abstract.hpp"
#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/services/state_manager_com_alive_interface_abstract.hpp"
#include "statemanager/services/state_manager_cwu_interface_abstract.hpp"
#include "statemanager/smw/shared_memory_update_interface.hpp"

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

} // namespace vela::ap::statemanager::placeholders
