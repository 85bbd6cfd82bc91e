#pragma once

#include "ara/log/logging.h"
#include "statemanager/config/local_to_string.hpp"
#include "statemanager/config/state_manager_config_abstract.hpp"

#include <cstdint>
#include <istream>
#include <nlohmann/json.hpp>
#include <string>
#include <type_traits>
#include <vector>

namespace vela::ap::statemanager::config
{

/// Whether a JSON number fits the unsigned range 0..maximum (a fraction is cut off later).
inline bool fits_unsigned(const nlohmann::json& value, double maximum)
{
    if (value.is_number_unsigned())
    {
        return value.get<std::uint64_t>() <= static_cast<std::uint64_t>(maximum);
    }
    if (value.is_number_integer())
    {
        return value.get<std::int64_t>() >= 0 && static_cast<double>(value.get<std::int64_t>()) <= maximum;
    }
    if (value.is_number_float())
    {
        const double number = value.get<double>();
        return number >= 0.0 && number < maximum + 1.0;
    }
    return true;
}

/// Whether the value can be converted to T without leaving T's range; values of other JSON types
/// are left to the conversion, which reports them as type errors.
template <typename T> bool fits_range(const nlohmann::json& value)
{
    if constexpr (std::is_same_v<T, std::uint32_t>)
    {
        return fits_unsigned(value, 4294967295.0);
    }
    else if constexpr (std::is_same_v<T, std::vector<std::uint8_t>>)
    {
        if (!value.is_array())
        {
            return true;
        }
        for (const auto& element : value)
        {
            if (!fits_unsigned(element, 255.0))
            {
                return false;
            }
        }
        return true;
    }
    else
    {
        (void)value;
        return true;
    }
}

/// Fetches the member key of json, converts it to T and hands it to setter, logging the value.
/// False (setter not called) when the member is missing, json is not an object, or the member
/// does not convert to T or lies outside T's range; each case is logged.
template <typename T, typename Setter>
bool get_and_set(const nlohmann::json& json, const std::string& key, Setter&& setter)
{
    T value{};
    try
    {
        const nlohmann::json& member = json.at(key);
        // Numbers outside the target's range would wrap around or, for large fractions, not be
        // convertible at all.
        if (!fits_range<T>(member))
        {
            ara::log::LogDebug() << "State_manager_json_parser:"
                                 << "Incorrect key type: " << key
                                 << " holds a number outside the range of its type: " << member.dump();
            return false;
        }
        value = member.template get<T>();
    }
    catch (const nlohmann::json::out_of_range& error)
    {
        ara::log::LogInfo() << "State_manager_json_parser:"
                            << "Missing " << key << "in configuration."
                            << "caused by" << error.what();
        return false;
    }
    catch (const nlohmann::json::exception& error)
    {
        ara::log::LogDebug() << "State_manager_json_parser:"
                             << "Incorrect key type: " << error.what();
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
    /// Objects and arrays nested deeper than this (the document's own object counting as the
    /// first level) make a file ill formatted. The format itself needs four levels; the bound
    /// keeps a hostile file from exhausting the stack of the library's recursive copies.
    static constexpr int s_max_nesting_depth = 64;

    State_manager_json_parser() = delete;

    /// Reads the file at path into config. True when the whole configuration was read; false
    /// (logged) when the daemon must not start, also for nesting deeper than
    /// s_max_nesting_depth. Never throws. Called once on the main thread.
    [[nodiscard]] static bool parse(const std::string& path, State_manager_config_abstract& config);

    /// What parse does once the file is open: reads one JSON document from input into config.
    /// True when the whole configuration was read; false (logged) otherwise. Never throws.
    [[nodiscard]] static bool parse_document(std::istream& input, State_manager_config_abstract& config);

    /// Reads the keys of the "statewarden" object into config, in their fixed order. Throws the
    /// JSON library's exceptions only where a member is asked of something that is no object.
    [[nodiscard]] static bool read_state_manager_configuration(const nlohmann::json& object,
                                                               State_manager_config_abstract& config);

    /// A copy of the member key of json, or null (logged) when there is none.
    static nlohmann::json get_json_object(const nlohmann::json& json, const std::string& key);
};

} // namespace vela::ap::statemanager::config
