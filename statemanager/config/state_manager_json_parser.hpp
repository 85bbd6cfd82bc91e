#pragma once

#include "ara/log/logging.h"
#include "statemanager/config/local_to_string.hpp"
#include "statemanager/config/state_manager_config_abstract.hpp"

#include <nlohmann/json.hpp>

#include <string>

namespace vela::ap::statemanager::config
{

/// Fetches the member key of json, converts it to T and hands it to setter, logging the value.
/// False (setter not called) when the member is missing, json is not an object, or the member
/// does not convert to T; each case is logged.
template <typename T, typename Setter>
bool get_and_set(const nlohmann::json& json, const std::string& key, Setter&& setter)
{
    T value{};
    try
    {
        value = json.at(key).template get<T>();
    }
    catch (const nlohmann::json::out_of_range& error)
    {
        ara::log::LogInfo() << "State_manager_json_parser:" << "Missing " << key << "in configuration."
                            << "caused by" << error.what();
        return false;
    }
    catch (const nlohmann::json::exception& error)
    {
        ara::log::LogDebug() << "State_manager_json_parser:" << "Incorrect key type: " << error.what();
        return false;
    }
    setter(value);
    ara::log::LogVerbose() << "State_manager_json_parser: Get " << key
                           << " form configuration with value: " << local_to_string<T>(value);
    return true;
}

/// Reads the daemon's JSON configuration file into the record. Stateless.
class State_manager_json_parser final
{
public:
    State_manager_json_parser() = delete;

    /// Reads the file at path into config. True when the whole configuration was read; false
    /// (logged) when the daemon must not start. Never throws. Called once on the main thread.
    [[nodiscard]] static bool parse(const std::string& path, State_manager_config_abstract& config);

    /// Reads the keys of the "statewarden" object into config, in their fixed order. Throws the
    /// JSON library's exceptions only where a member is asked of something that is no object.
    [[nodiscard]] static bool read_state_manager_configuration(const nlohmann::json& object,
                                                               State_manager_config_abstract& config);

    /// A copy of the member key of json, or null (logged) when there is none.
    static nlohmann::json get_json_object(const nlohmann::json& json, const std::string& key);
};

} // namespace vela::ap::statemanager::config
