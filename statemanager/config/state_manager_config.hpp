#pragma once

#include "statemanager/config/state_manager_config_abstract.hpp"

namespace vela::ap::statemanager::config
{

/// The configuration record with its built-in defaults.
class State_manager_config final : public State_manager_config_abstract
{
  public:
    State_manager_config() = default;

    std::uint32_t get_knockout_timer() const override { return m_knockout_timer; }
    void set_knockout_timer(std::uint32_t value) override { m_knockout_timer = value; }

    bool is_nm_usage_allowed() const override { return m_nm_usage_allowed; }
    void set_nm_usage(bool value) override { m_nm_usage_allowed = value; }

    bool is_request_network_on_entry_run_state_requested() const override
    {
        return m_request_network_on_entry_run_state;
    }
    void set_request_network_on_entry_run_state(bool value) override { m_request_network_on_entry_run_state = value; }

    std::uint32_t get_main_function_period() const override { return m_main_function_period; }
    void set_main_function_period(std::uint32_t value) override { m_main_function_period = value; }

    std::string get_smw_update_status_path() const override { return m_smw_update_status_path; }
    void set_smw_update_status_path(const std::string& value) override { m_smw_update_status_path = value; }

    std::string get_smw_restart_command_path() const override { return m_smw_restart_command_path; }
    void set_smw_restart_command_path(const std::string& value) override { m_smw_restart_command_path = value; }

    Nm_user_data_config get_nm_user_data_config() const override { return m_nm_user_data_config; }
    [[nodiscard]] bool set_nm_user_data_config(const Nm_user_data_config& value) override;

    std::vector<std::uint8_t> get_nm_request_pattern() const override { return m_nm_request_pattern; }
    void set_nm_request_pattern(const std::vector<std::uint8_t>& value) override { m_nm_request_pattern = value; }

    std::uint32_t get_max_apps_ecualive() const override { return m_max_apps_ecualive; }
    void set_max_apps_ecualive(std::uint32_t value) override { m_max_apps_ecualive = value; }
    const std::vector<std::string>& get_apps_ecualive() const override { return m_apps_ecualive; }
    [[nodiscard]] bool add_apps_ecualive(const std::string& name) override;

    std::uint32_t get_max_apps_comalive() const override { return m_max_apps_comalive; }
    void set_max_apps_comalive(std::uint32_t value) override { m_max_apps_comalive = value; }
    const std::vector<std::string>& get_apps_comalive() const override { return m_apps_comalive; }
    [[nodiscard]] bool add_apps_comalive(const std::string& name) override;

    std::uint32_t get_max_apps_cwu() const override { return m_max_apps_cwu; }
    void set_max_apps_cwu(std::uint32_t value) override { m_max_apps_cwu = value; }
    const std::vector<std::string>& get_apps_cwu() const override { return m_apps_cwu; }
    [[nodiscard]] bool add_apps_cwu(const std::string& name) override;

    std::uint32_t get_app_timeout() const override { return m_app_timeout; }
    void set_app_timeout(std::uint32_t value) override { m_app_timeout = value; }

    std::uint32_t get_dm_timeout() const override { return m_dm_timeout; }
    void set_dm_timeout(std::uint32_t value) override { m_dm_timeout = value; }

    std::uint32_t get_pm_timeout() const override { return m_pm_timeout; }
    void set_pm_timeout(std::uint32_t value) override { m_pm_timeout = value; }

    std::string get_alive_supervision_instance_id() const override { return m_alive_supervision_instance_id; }
    void set_alive_supervision_instance_id(const std::string& value) override
    {
        m_alive_supervision_instance_id = value;
    }

  private:
    std::uint32_t m_knockout_timer{3};
    bool m_nm_usage_allowed{true};
    bool m_request_network_on_entry_run_state{true};
    std::uint32_t m_main_function_period{100};
    std::string m_smw_update_status_path{"/sys/vmctl/set_status"};
    std::string m_smw_restart_command_path{"/sys/vmctl/command_request"};
    Nm_user_data_config m_nm_user_data_config{};
    std::vector<std::uint8_t> m_nm_request_pattern;
    std::uint32_t m_max_apps_ecualive{0};
    std::vector<std::string> m_apps_ecualive;
    std::uint32_t m_max_apps_comalive{0};
    std::vector<std::string> m_apps_comalive;
    std::uint32_t m_max_apps_cwu{0};
    std::vector<std::string> m_apps_cwu;
    std::uint32_t m_app_timeout{60};
    std::uint32_t m_dm_timeout{60};
    std::uint32_t m_pm_timeout{60};
    std::string m_alive_supervision_instance_id;
};

} // namespace vela::ap::statemanager::config
