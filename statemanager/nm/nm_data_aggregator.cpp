#include "statemanager/nm/nm_data_aggregator.hpp"

#include "ara/log/logging.h"

#include <algorithm>

namespace vela::ap::statemanager::nm
{

namespace
{
constexpr std::uint8_t s_user_data_init_bits = 0x80;
}

Nm_data_aggregator::Nm_data_aggregator(const config::Nm_user_data_config& config)
    : m_config(config)
{
}

void Nm_data_aggregator::init(std::size_t size)
{
    m_width = size;
    m_user_data.resize(m_config.user_data_bytes, 0);
    if (!m_user_data.empty())
    {
        m_user_data[0] = s_user_data_init_bits;
    }
    m_application_bits.resize(m_width, 0);
    if (!cwu_bit_inside())
    {
        ara::log::LogError() << "CWU bit position " << m_config.cwu_bit_position
                             << " lies outside the user data, the CWU bit is never set";
    }
}

void Nm_data_aggregator::set_ac_bit(const std::string& app_id, std::uint8_t ac_value)
{
    m_applications[app_id].set_ac_bit(ac_value);
    apply_user_data_bits(aggregate_ac_bits(), m_config.acbits_offset, m_config.acbits_bytes);
}

void Nm_data_aggregator::release_ac_bit(const std::string& app_id)
{
    ara::log::LogInfo() << "Releasing AC bit for application " + app_id;
    m_applications[app_id].release_ac_bits();
    apply_user_data_bits(aggregate_ac_bits(), m_config.acbits_offset, m_config.acbits_bytes);
}

void Nm_data_aggregator::request_cab_bits(const std::string& app_id, const Bit_vector& bits)
{
    m_applications[app_id].set_app_bits(bits);
    m_application_bits = aggregate_application_bits();
    apply_user_data_bits(m_application_bits, m_config.cabbits_offset, m_config.cabbits_bytes);
}

void Nm_data_aggregator::release_cab_bits(const std::string& app_id, const Bit_vector& bits)
{
    Application_stats& application = m_applications[app_id];
    application.release_app_bits(bits);
    m_application_bits = aggregate_application_bits();
    apply_user_data_bits(m_application_bits, m_config.cabbits_offset, m_config.cabbits_bytes);
    if (!application.is_app_active())
    {
        release_ac_bit(app_id);
    }
}

void Nm_data_aggregator::request_cwu(const std::string& app_id)
{
    m_applications[app_id].set_cwu_flag(true);
    if (cwu_bit_inside())
    {
        std::uint8_t& byte = m_user_data[m_config.cwu_bit_position / 8U];
        byte = static_cast<std::uint8_t>(byte | (1U << (m_config.cwu_bit_position % 8U)));
    }
    ara::log::LogInfo() << "CWU bit set by appId: " + app_id;
}

void Nm_data_aggregator::release_cwu(const std::string& app_id)
{
    Application_stats& application = m_applications[app_id];
    application.set_cwu_flag(false);
    const bool still_held = std::any_of(
        m_applications.begin(), m_applications.end(), [](const auto& entry) { return entry.second.is_cwu_active(); });
    if (!still_held)
    {
        if (cwu_bit_inside())
        {
            std::uint8_t& byte = m_user_data[m_config.cwu_bit_position / 8U];
            byte = static_cast<std::uint8_t>(byte & ~(1U << (m_config.cwu_bit_position % 8U)));
        }
        ara::log::LogInfo() << "CWU bit cleared by appId: " + app_id;
    }
    if (!application.is_app_active())
    {
        release_ac_bit(app_id);
    }
}

Bit_vector Nm_data_aggregator::aggregate_application_bits() const
{
    Bit_vector result(m_width, 0);
    for (const auto& entry : m_applications)
    {
        result |= entry.second.get_application_bits();
    }
    return result;
}

Bit_vector Nm_data_aggregator::aggregate_ac_bits() const
{
    Bit_vector result(m_width, 0);
    for (const auto& entry : m_applications)
    {
        result |= entry.second.get_ac_bits();
    }
    return result;
}

bool Nm_data_aggregator::is_com_alive() const
{
    return std::any_of(
        m_applications.begin(), m_applications.end(), [](const auto& entry) { return entry.second.is_app_active(); });
}

void Nm_data_aggregator::apply_user_data_bits(const Bit_vector& bits, std::size_t offset, std::size_t size)
{
    ara::log::LogInfo() << "Applying user data bits size: " << static_cast<std::uint64_t>(bits.size()) << " at offset "
                        << static_cast<std::uint64_t>(offset);
    if (size > bits.size())
    {
        ara::log::LogError() << "Invalid bitvector size, below configured size: " << static_cast<std::uint64_t>(size);
        return;
    }
    // The configuration keeps every field inside the user data; this guards a layout that did
    // not pass through it, and a write before init().
    if (offset > m_user_data.size() || size > m_user_data.size() - offset)
    {
        ara::log::LogError() << "User data field at offset " << static_cast<std::uint64_t>(offset) << " of size "
                             << static_cast<std::uint64_t>(size) << " lies outside the user data of "
                             << static_cast<std::uint64_t>(m_user_data.size()) << " bytes";
        return;
    }
    std::copy_n(bits.begin(), size, m_user_data.begin() + static_cast<std::ptrdiff_t>(offset));
}

bool Nm_data_aggregator::cwu_bit_inside() const
{
    return m_config.cwu_bit_position / 8U < m_user_data.size();
}

const Application_stats* Nm_data_aggregator::find_application(const std::string& app_id) const
{
    const auto found = m_applications.find(app_id);
    return found == m_applications.end() ? nullptr : &found->second;
}

} // namespace vela::ap::statemanager::nm
