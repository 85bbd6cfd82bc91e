#include "statemanager/config/state_manager_json_parser.hpp"

#include <cstdint>
#include <exception>
#include <fstream>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

namespace vela::ap::statemanager::config
{

namespace
{

constexpr const char* s_log_prefix = "State_manager_json_parser:";

using Adder = bool (State_manager_config_abstract::*)(const std::string&);
using Max_setter = void (State_manager_config_abstract::*)(std::uint32_t);

/// One group of provided-service instances: its maximum, its list and its messages.
struct Requester_group
{
    const char* max_key;
    Max_setter set_max;
    const char* list_key;
    const char* name_key;
    Adder add;
    const char* not_set_message;
    const char* exceeded_message;
};

const Requester_group s_requester_groups[] = {
    {"MaxNumberOfApplicationsRequestAlive",
     &State_manager_config_abstract::set_max_apps_ecualive,
     "ApplicationsRequestAliveConfig",
     "EcuAliveInterfaceInstance",
     &State_manager_config_abstract::add_apps_ecualive,
     "ApplicationsRequestAliveConfig not set in configuration file!",
     "MaxNumberOfApplicationsRequestAlive exceeded! Interface not added!"},
    {"MaxNumberOfApplicationsRequestNetwork",
     &State_manager_config_abstract::set_max_apps_comalive,
     "ApplicationsRequestNetworkConfig",
     "NetworkAliveInterfaceInstance",
     &State_manager_config_abstract::add_apps_comalive,
     "ApplicationsRequestNetworkConfig not set in configuration file!",
     "MaxNumberOfApplicationsRequestNetwork exceeded! Interface not added!"},
    {"MaxNumberOfCWURequest",
     &State_manager_config_abstract::set_max_apps_cwu,
     "CWURequestConfig",
     "CWUInterfaceInstance",
     &State_manager_config_abstract::add_apps_cwu,
     "CWURequestConfig not set in configuration file!",
     "MaxNumberOfCWURequest exceeded! Interface not added!"},
};

bool read_requester_group(const nlohmann::json& object,
                          State_manager_config_abstract& config,
                          const Requester_group& group)
{
    // The maximum comes first so that the list is bounded by the value of the same file.
    if (!get_and_set<std::uint32_t>(
            object, group.max_key, [&](std::uint32_t value) { (config.*group.set_max)(value); }))
    {
        return false;
    }
    const nlohmann::json list = State_manager_json_parser::get_json_object(object, group.list_key);
    if (list.empty())
    {
        ara::log::LogDebug() << s_log_prefix << group.not_set_message;
        return false;
    }
    for (const auto& element : list)
    {
        // An element without a usable name is logged by get_and_set and skipped.
        (void)get_and_set<std::string>(element,
                                       group.name_key,
                                       [&](const std::string& name)
                                       {
                                           if (!(config.*group.add)(name))
                                           {
                                               ara::log::LogWarn() << s_log_prefix << group.exceeded_message;
                                           }
                                       });
    }
    return true;
}

bool read_nm_user_data_config(const nlohmann::json& block, State_manager_config_abstract& config)
{
    // Keys that are missing or of the wrong type keep their defaults; the whole is validated.
    Nm_user_data_config layout{};
    const auto read_number = [&block](const char* key, std::uint32_t& field)
    { (void)get_and_set<std::uint32_t>(block, key, [&field](std::uint32_t value) { field = value; }); };
    read_number("UserDataBytes", layout.user_data_bytes);
    read_number("CWUBitPosition", layout.cwu_bit_position);
    read_number("ACOffset", layout.acbits_offset);
    read_number("ACBytes", layout.acbits_bytes);
    read_number("CABOffset", layout.cabbits_offset);
    read_number("CABBytes", layout.cabbits_bytes);
    read_number("MaxCABSizeBits", layout.max_cab_size_bits);
    (void)get_and_set<bool>(block, "CabBitsEnabled", [&layout](bool value) { layout.cab_bits_enabled = value; });

    if (!config.set_nm_user_data_config(layout))
    {
        ara::log::LogDebug() << s_log_prefix << "Inncorect configuration of NmUserDataConfig!";
        return false;
    }
    return true;
}

/// Parser callback: throws when an object or array opens below the deepest level accepted.
bool refuse_deep_nesting(int depth, nlohmann::json::parse_event_t event, nlohmann::json& /*parsed*/)
{
    // The depth of an opening value is the number of values enclosing it.
    if ((event == nlohmann::json::parse_event_t::object_start || event == nlohmann::json::parse_event_t::array_start) &&
        depth >= State_manager_json_parser::s_max_nesting_depth)
    {
        throw std::runtime_error("objects and arrays nested deeper than " +
                                 std::to_string(State_manager_json_parser::s_max_nesting_depth) + " levels");
    }
    return true;
}

} // namespace

bool State_manager_json_parser::parse(const std::string& path, State_manager_config_abstract& config)
{
    ara::log::LogInfo() << "Parsing configuration file:" << path;

    std::ifstream file(path);
    if (!file.is_open())
    {
        ara::log::LogFatal() << "Configuration file could NOT be opened! Path: " << path << "!";
        return false;
    }
    return parse_document(file, config);
}

bool State_manager_json_parser::parse_document(std::istream& input, State_manager_config_abstract& config)
{
    try
    {
        // Strict: anything but white space after the document is an error. Nesting is refused
        // while it is read, before any value deeper than the bound exists.
        const nlohmann::json document = nlohmann::json::parse(input, refuse_deep_nesting);
        if (document.empty())
        {
            return false;
        }
        const nlohmann::json object = get_json_object(document, "statewarden");
        if (object.empty())
        {
            return false;
        }
        return read_state_manager_configuration(object, config);
    }
    catch (const std::exception& error)
    {
        ara::log::LogFatal() << "Failed to parse configuration: " << error.what() << "!";
        return false;
    }
}

bool State_manager_json_parser::read_state_manager_configuration(const nlohmann::json& object,
                                                                 State_manager_config_abstract& config)
{
    ara::log::LogVerbose() << "State_manager_json_parser: Parsing State Manager configuration";

    auto& cfg = config;
    const bool scalars_read =
        get_and_set<std::uint32_t>(object, "KnockOutTimer", [&cfg](std::uint32_t v) { cfg.set_knockout_timer(v); }) &&
        get_and_set<bool>(object, "StateManagerNMUsage", [&cfg](bool v) { cfg.set_nm_usage(v); }) &&
        get_and_set<bool>(object,
                          "RequestNetworkOnEntryRunState",
                          [&cfg](bool v) { cfg.set_request_network_on_entry_run_state(v); }) &&
        get_and_set<std::uint32_t>(
            object, "StateManagerMainPeriod", [&cfg](std::uint32_t v) { cfg.set_main_function_period(v); }) &&
        get_and_set<std::uint32_t>(
            object, "ApplicationSuspendRequestTimeout", [&cfg](std::uint32_t v) { cfg.set_app_timeout(v); }) &&
        get_and_set<std::uint32_t>(
            object, "DMSuspendRequestTimeout", [&cfg](std::uint32_t v) { cfg.set_dm_timeout(v); }) &&
        get_and_set<std::uint32_t>(
            object, "PMSuspendRequestTimeout", [&cfg](std::uint32_t v) { cfg.set_pm_timeout(v); }) &&
        get_and_set<std::string>(object,
                                 "AliveSupervisionInstanceId",
                                 [&cfg](const std::string& v) { cfg.set_alive_supervision_instance_id(v); });
    if (!scalars_read)
    {
        return false;
    }

    const nlohmann::json shared_memory = get_json_object(object, "SharedMemoryConfig");
    if (shared_memory.empty())
    {
        ara::log::LogDebug() << s_log_prefix << "SharedMemoryConfig  not set in configuration file!";
    }
    else if (!get_and_set<std::string>(shared_memory,
                                       "UpdateStatusFile",
                                       [&cfg](const std::string& v) { cfg.set_smw_update_status_path(v); }) ||
             !get_and_set<std::string>(shared_memory,
                                       "RestartCommandFile",
                                       [&cfg](const std::string& v) { cfg.set_smw_restart_command_path(v); }))
    {
        return false;
    }

    const nlohmann::json nm_user_data = get_json_object(object, "NmUserDataConfig");
    if (nm_user_data.empty())
    {
        ara::log::LogDebug() << s_log_prefix << "NmUserDataConfig  not set in configuration file!";
    }
    else if (!read_nm_user_data_config(nm_user_data, config))
    {
        return false;
    }

    // Stored files spell this key without the letter l; it must stay so.
    if (!get_and_set<std::vector<std::uint8_t>>(object,
                                                "DefautNMRequestPattern",
                                                [&cfg](const std::vector<std::uint8_t>& v)
                                                { cfg.set_nm_request_pattern(v); }))
    {
        return false;
    }

    for (const Requester_group& group : s_requester_groups)
    {
        if (!read_requester_group(object, config, group))
        {
            return false;
        }
    }
    return true;
}

nlohmann::json State_manager_json_parser::get_json_object(const nlohmann::json& json, const std::string& key)
{
    try
    {
        nlohmann::json member = json.at(key);
        ara::log::LogVerbose() << "State_manager_json_parser: Found " << key;
        return member;
    }
    catch (const nlohmann::json::out_of_range& error)
    {
        ara::log::LogInfo() << s_log_prefix << "Missing " << key << "in configuration."
                            << "caused by" << error.what();
        return nullptr;
    }
}

} // namespace vela::ap::statemanager::config
