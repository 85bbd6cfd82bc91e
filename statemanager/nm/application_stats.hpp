#pragma once

#include "statemanager/nm/bit_vector.hpp"

#include <cstdint>

namespace vela::ap::statemanager::nm
{

/// What one application currently holds: its car wake-up request, its CAB bits and its one AC
/// value. A plain value; the aggregator keeps one per application id and never locks (its owner
/// does).
class Application_stats
{
  public:
    /// Number of CAB bytes kept per application; longer requests are cut to this length.
    static constexpr std::size_t s_application_bits_bytes = 7;
    /// Number of AC bytes: AC values 1 to 16.
    static constexpr std::size_t s_ac_bits_bytes = 2;

    /// application bits |= bits.
    void set_app_bits(const Bit_vector& bits);
    /// application bits &= ~bits.
    void release_app_bits(const Bit_vector& bits);
    /// Replaces the AC bit by the one of ac_value (1 to 16); any other value leaves none set.
    void set_ac_bit(const std::uint8_t& ac_value);
    /// Clears the AC bit.
    void release_ac_bits();
    void set_cwu_flag(bool active);

    bool is_cwu_active() const { return m_cwu_active; }
    const Bit_vector& get_application_bits() const { return m_application_bits; }
    const Bit_vector& get_ac_bits() const { return m_ac_bits; }
    /// True while the application holds a car wake-up request or any CAB bit; an AC value alone
    /// does not count.
    bool is_app_active() const;

  private:
    bool m_cwu_active{false};
    Bit_vector m_application_bits = Bit_vector(s_application_bits_bytes, 0);
    Bit_vector m_ac_bits = Bit_vector(s_ac_bits_bytes, 0);
};

} // namespace vela::ap::statemanager::nm
