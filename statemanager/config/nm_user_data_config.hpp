#pragma once

#include <cstdint>

namespace vela::ap::statemanager::config
{

/// Layout of the NM user data: where the AC and CAB fields sit (offsets and sizes in bytes),
/// the car-wake-up bit and how many CAB bits may be used. The defaults form a valid layout.
struct Nm_user_data_config
{
    std::uint32_t user_data_bytes{6};
    std::uint32_t cwu_bit_position{6};
    std::uint32_t acbits_offset{1};
    std::uint32_t acbits_bytes{2};
    std::uint32_t cabbits_offset{3};
    std::uint32_t cabbits_bytes{3};
    std::uint32_t max_cab_size_bits{24};
    bool cab_bits_enabled{false};
};

} // namespace vela::ap::statemanager::config
