#include "statemanager/config/state_manager_config.hpp"

#include <cstdint>
#include <limits>

namespace vela::ap::statemanager::config
{

namespace
{

bool add_bounded(std::vector<std::string>& names, std::uint32_t maximum, const std::string& name)
{
    if (names.size() >= maximum)
    {
        return false;
    }
    names.push_back(name);
    return true;
}

} // namespace

bool State_manager_config::set_nm_user_data_config(const Nm_user_data_config& value)
{
    // Formed in 64 bits: a layout whose 32-bit sums would wrap around must not pass as small.
    constexpr std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
    const std::uint64_t ac_end = std::uint64_t{value.acbits_offset} + value.acbits_bytes;
    const std::uint64_t cab_end = std::uint64_t{value.cabbits_offset} + value.cabbits_bytes;
    const std::uint64_t cab_bits = std::uint64_t{8} * value.cabbits_bytes;
    const std::uint64_t user_data_bits = std::uint64_t{8} * value.user_data_bytes;

    const bool no_overflow = ac_end <= limit && cab_end <= limit && cab_bits <= limit;
    // A layout without user data, or with the car-wake-up bit outside it, cannot be carried.
    const bool cwu_inside = value.user_data_bytes != 0 && value.cwu_bit_position < user_data_bits;
    const bool fields_inside =
        ac_end <= value.cabbits_offset && cab_end <= value.user_data_bytes && value.max_cab_size_bits <= cab_bits;

    if (!(no_overflow && cwu_inside && fields_inside))
    {
        return false;
    }
    m_nm_user_data_config = value;
    return true;
}

bool State_manager_config::add_apps_ecualive(const std::string& name)
{
    return add_bounded(m_apps_ecualive, m_max_apps_ecualive, name);
}

bool State_manager_config::add_apps_comalive(const std::string& name)
{
    return add_bounded(m_apps_comalive, m_max_apps_comalive, name);
}

bool State_manager_config::add_apps_cwu(const std::string& name)
{
    return add_bounded(m_apps_cwu, m_max_apps_cwu, name);
}

} // namespace vela::ap::statemanager::config
