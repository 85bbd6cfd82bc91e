#include "statemanager/config/state_manager_config.hpp"
#include "statemanager/config/state_manager_json_parser.hpp"
#include "testbed/support/statewarden_configuration.hpp"

#include <gtest/gtest.h>
#include <sstream>

namespace tarn1::testing
{
namespace
{

using vela::ap::statemanager::config::State_manager_config;
using vela::ap::statemanager::config::State_manager_json_parser;

State_manager_config parsed(const Statewarden_settings& settings)
{
    std::istringstream text(statewarden_configuration(settings));
    State_manager_config config;
    EXPECT_TRUE(State_manager_json_parser::parse_document(text, config)) << statewarden_configuration(settings);
    return config;
}

TEST(Statewarden_configuration, TheDaemonsParserReadsBackEverySetting)
{
    Statewarden_settings settings = settings_with_control_files_in("/tmp/vm");
    settings.nm_usage = false;
    settings.request_network_on_entry = false;
    settings.period_ms = 50;
    settings.application_timeout_s = 2;
    settings.diagnostic_timeout_s = 1;
    settings.power_manager_timeout_s = 7;

    const State_manager_config config = parsed(settings);

    EXPECT_FALSE(config.is_nm_usage_allowed());
    EXPECT_FALSE(config.is_request_network_on_entry_run_state_requested());
    EXPECT_EQ(config.get_main_function_period(), 50U);
    EXPECT_EQ(config.get_app_timeout(), 2U);
    EXPECT_EQ(config.get_dm_timeout(), 1U);
    EXPECT_EQ(config.get_pm_timeout(), 7U);
    EXPECT_EQ(config.get_smw_update_status_path(), "/tmp/vm/set_status");
    EXPECT_EQ(config.get_smw_restart_command_path(), "/tmp/vm/command_request");
}

TEST(Statewarden_configuration, DefaultsGiveOneInstancePerServiceAndTheDefaultPattern)
{
    const State_manager_config config = parsed({});

    EXPECT_TRUE(config.is_nm_usage_allowed());
    EXPECT_EQ(config.get_knockout_timer(), 3U);
    EXPECT_EQ(config.get_main_function_period(), 20U);
    EXPECT_EQ(config.get_smw_update_status_path(), "/etc/adaptive/set_status");
    EXPECT_EQ(config.get_nm_request_pattern(), (std::vector<std::uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(config.get_apps_ecualive(), std::vector<std::string>{"ecu"});
    EXPECT_EQ(config.get_apps_comalive(), std::vector<std::string>{"com"});
    EXPECT_EQ(config.get_apps_cwu(), std::vector<std::string>{"cwu"});
    EXPECT_EQ(config.get_alive_supervision_instance_id(), "Statewarden/Alive");
}

} // namespace
} // namespace tarn1::testing
