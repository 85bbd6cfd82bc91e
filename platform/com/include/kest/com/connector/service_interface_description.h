#pragma once

#include <cstdint>
#include <string>

namespace kest::com::connector
{

/// What the generated code tells the middleware about a service interface.
struct Service_interface_description
{
    std::string service_name;
    std::uint16_t number_of_events{0};
    std::uint16_t number_of_methods{0};
    std::uint8_t major_version{1};
    std::uint32_t minor_version{0};

    /// The 16-bit service id carried in message headers: a fold of the name's FNV-1a hash.
    std::uint16_t numeric_service_id() const noexcept
    {
        std::uint32_t hash = 2166136261U;
        for (const char c : service_name)
        {
            hash ^= static_cast<std::uint8_t>(c);
            hash *= 16777619U;
        }
        return static_cast<std::uint16_t>((hash >> 16) ^ (hash & 0xFFFFU));
    }
};

} // namespace kest::com::connector
