#pragma once

#include "statemanager/config/nm_user_data_config.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace vela::ap::statemanager::config
{

/// The daemon's configuration record. Filled once by the parser on the main thread before any
/// other thread starts, read-only afterwards, so readers on any thread need no lock.
class State_manager_config_abstract
{
  public:
    virtual ~State_manager_config_abstract() = default;

    /// Cycles the post-run state waits without a transition before it gives up (a count).
    virtual std::uint32_t get_knockout_timer() const = 0;
    virtual void set_knockout_timer(std::uint32_t value) = 0;

    /// Whether UDP network management is used at all.
    virtual bool is_nm_usage_allowed() const = 0;
    virtual void set_nm_usage(bool value) = 0;

    /// Whether entering the running state requests the network.
    virtual bool is_request_network_on_entry_run_state_requested() const = 0;
    virtual void set_request_network_on_entry_run_state(bool value) = 0;

    /// Upper bound of one main-loop cycle, in milliseconds.
    virtual std::uint32_t get_main_function_period() const = 0;
    virtual void set_main_function_period(std::uint32_t value) = 0;

    /// The VM status file the states write their words to.
    virtual std::string get_smw_update_status_path() const = 0;
    virtual void set_smw_update_status_path(const std::string& value) = 0;

    /// The restart command file of the diagnostic restart service.
    virtual std::string get_smw_restart_command_path() const = 0;
    virtual void set_smw_restart_command_path(const std::string& value) = 0;

    /// The NM user-data layout (a copy).
    virtual Nm_user_data_config get_nm_user_data_config() const = 0;
    /// Stores the layout only when it is consistent (fields inside the user data, the CAB size
    /// inside its field, no arithmetic overflow); false keeps the stored layout.
    [[nodiscard]] virtual bool set_nm_user_data_config(const Nm_user_data_config& value) = 0;

    /// The network request pattern used by the states (a copy).
    virtual std::vector<std::uint8_t> get_nm_request_pattern() const = 0;
    virtual void set_nm_request_pattern(const std::vector<std::uint8_t>& value) = 0;

    /// ECU-alive requesters: the maximum and the instance names (at most the maximum).
    virtual std::uint32_t get_max_apps_ecualive() const = 0;
    virtual void set_max_apps_ecualive(std::uint32_t value) = 0;
    virtual const std::vector<std::string>& get_apps_ecualive() const = 0;
    /// Appends the name unless the list already holds its maximum; false when refused.
    [[nodiscard]] virtual bool add_apps_ecualive(const std::string& name) = 0;

    /// Network (COM-alive) requesters, bounded likewise.
    virtual std::uint32_t get_max_apps_comalive() const = 0;
    virtual void set_max_apps_comalive(std::uint32_t value) = 0;
    virtual const std::vector<std::string>& get_apps_comalive() const = 0;
    [[nodiscard]] virtual bool add_apps_comalive(const std::string& name) = 0;

    /// Car-wake-up requesters, bounded likewise.
    virtual std::uint32_t get_max_apps_cwu() const = 0;
    virtual void set_max_apps_cwu(std::uint32_t value) = 0;
    virtual const std::vector<std::string>& get_apps_cwu() const = 0;
    [[nodiscard]] virtual bool add_apps_cwu(const std::string& name) = 0;

    /// Seconds the applications get to answer a standby or resume request.
    virtual std::uint32_t get_app_timeout() const = 0;
    virtual void set_app_timeout(std::uint32_t value) = 0;

    /// Seconds the DEM and the DCM get to answer a standby or resume request.
    virtual std::uint32_t get_dm_timeout() const = 0;
    virtual void set_dm_timeout(std::uint32_t value) = 0;

    /// Seconds granted to the power-management daemon for a fast shutdown.
    virtual std::uint32_t get_pm_timeout() const = 0;
    virtual void set_pm_timeout(std::uint32_t value) = 0;

    /// The health-management supervision instance of the daemon.
    virtual std::string get_alive_supervision_instance_id() const = 0;
    virtual void set_alive_supervision_instance_id(const std::string& value) = 0;

  protected:
    State_manager_config_abstract() = default;
    State_manager_config_abstract(const State_manager_config_abstract&) = default;
    State_manager_config_abstract& operator=(const State_manager_config_abstract&) = default;
};

} // namespace vela::ap::statemanager::config
