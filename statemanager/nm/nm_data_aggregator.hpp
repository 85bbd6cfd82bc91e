#pragma once

#include "statemanager/config/nm_user_data_config.hpp"
#include "statemanager/nm/application_stats.hpp"
#include "statemanager/nm/bit_vector.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace vela::ap::statemanager::nm
{

/// Merges every application's car wake-up, AC and CAB requests into the NM user data:
///   - the CWU bit is set while at least one application holds a car wake-up request;
///   - the AC field has one bit per AC value held by some application;
///   - the CAB field is the OR of all applications' CAB bits.
/// Applications are named by their id (the instance string of the service they call through);
/// an entry is created the first time an id is named and is never removed.
///
/// No locking here: the service handler calls every operation under its own mutex.
class Nm_data_aggregator
{
  public:
    /// Width of the aggregates before init().
    static constexpr std::size_t s_initial_width = 7;

    explicit Nm_data_aggregator(const config::Nm_user_data_config& config);

    /// Sets the aggregation width in bytes and sizes the user data to the layout, with the top
    /// bit of byte 0 set.
    void init(std::size_t size);

    /// Replaces the application's AC value and rewrites the AC field.
    void set_ac_bit(const std::string& app_id, std::uint8_t ac_value);
    /// Withdraws the application's AC value and rewrites the AC field.
    void release_ac_bit(const std::string& app_id);
    /// Adds CAB bits for the application and rewrites the CAB field.
    void request_cab_bits(const std::string& app_id, const Bit_vector& bits);
    /// Removes CAB bits of the application and rewrites the CAB field; an application left with
    /// nothing loses its AC value too.
    void release_cab_bits(const std::string& app_id, const Bit_vector& bits);
    /// Books a car wake-up request and sets the CWU bit.
    void request_cwu(const std::string& app_id);
    /// Withdraws the application's car wake-up request; the CWU bit goes with the last holder.
    void release_cwu(const std::string& app_id);

    /// Width bytes: the OR of every application's CAB bits.
    Bit_vector aggregate_application_bits() const;
    /// Width bytes: the OR of every application's AC bits.
    Bit_vector aggregate_ac_bits() const;
    /// True while some application holds a car wake-up request or CAB bits.
    bool is_com_alive() const;

    /// Copies the first size bytes of bits to the user data at offset. Refused (logged) when
    /// bits is shorter than size or the field would leave the user data.
    void apply_user_data_bits(const Bit_vector& bits, std::size_t offset, std::size_t size);

    /// The aggregate of all CAB bits as of the last CAB write.
    const Bit_vector& get_application_bits() const { return m_application_bits; }
    /// The NM user data.
    const Bit_vector& get_user_data() const { return m_user_data; }
    /// What the application holds; nullptr when it was never named.
    const Application_stats* find_application(const std::string& app_id) const;

  private:
    /// True when the configured CWU bit lies inside the user data.
    bool cwu_bit_inside() const;

    std::unordered_map<std::string, Application_stats> m_applications;
    Bit_vector m_application_bits;
    Bit_vector m_user_data;
    config::Nm_user_data_config m_config;
    std::size_t m_width{s_initial_width};
};

} // namespace vela::ap::statemanager::nm
