#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>
#include <vector>

namespace vela::ap::statemanager::config
{

/// The text form of a configuration value in the parser's log: strings as they are, byte vectors
/// as each byte taken as one raw character followed by a blank, unsigned numbers in decimal and
/// booleans as 0 or 1.
template <typename T> std::string local_to_string(const T& value)
{
    static_assert(std::is_same_v<T, std::uint32_t>, "local_to_string: unsupported type");
    char text[16];
    (void)std::snprintf(text, sizeof text, "%u", static_cast<unsigned int>(value));
    return text;
}

template <> inline std::string local_to_string<bool>(const bool& value)
{
    char text[4];
    (void)std::snprintf(text, sizeof text, "%d", value ? 1 : 0);
    return text;
}

template <> inline std::string local_to_string<std::string>(const std::string& value)
{
    return value;
}

template <> inline std::string local_to_string<std::vector<std::uint8_t>>(const std::vector<std::uint8_t>& value)
{
    std::string text;
    text.reserve(value.size() * 2);
    for (const std::uint8_t byte : value)
    {
        text.push_back(static_cast<char>(byte));
        text.push_back(' ');
    }
    return text;
}

} // namespace vela::ap::statemanager::config
