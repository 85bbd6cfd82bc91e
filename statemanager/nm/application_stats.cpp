#include "statemanager/nm/application_stats.hpp"

#include <algorithm>

namespace vela::ap::statemanager::nm
{

void Application_stats::set_app_bits(const Bit_vector& bits)
{
    m_application_bits |= bits;
}

void Application_stats::release_app_bits(const Bit_vector& bits)
{
    m_application_bits &= ~bits;
}

void Application_stats::set_ac_bit(const std::uint8_t& ac_value)
{
    release_ac_bits();
    // AC 0 wraps to 255 here and so sets nothing, like every value above 16.
    const auto bit = static_cast<std::uint8_t>(ac_value - 1U);
    if (bit <= 15U)
    {
        m_ac_bits[bit / 8U] = static_cast<std::uint8_t>(m_ac_bits[bit / 8U] | (1U << (bit % 8U)));
    }
}

void Application_stats::release_ac_bits()
{
    std::fill(m_ac_bits.begin(), m_ac_bits.end(), std::uint8_t{0});
}

void Application_stats::set_cwu_flag(bool active)
{
    m_cwu_active = active;
}

bool Application_stats::is_app_active() const
{
    return m_cwu_active ||
           std::any_of(m_application_bits.begin(), m_application_bits.end(), [](std::uint8_t b) { return b != 0; });
}

} // namespace vela::ap::statemanager::nm
