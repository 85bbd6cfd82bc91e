#pragma once

#include "statemanager/config/state_manager_config_abstract.hpp"
#include "statemanager/nm/bit_vector.hpp"
#include "statemanager/nm/nm_data_aggregator.hpp"
#include "statemanager/nm/nm_interface_abstract.hpp"
#include "statemanager/service_handler/service_handler_interface.hpp"
#include "statemanager/services/dsa_interface.hpp"
#include "statemanager/services/ecu_alive_interface.hpp"
#include "statemanager/services/ecu_alive_interface_callback.hpp"
#include "statemanager/services/state_manager_com_alive_interface_abstract.hpp"
#include "statemanager/services/state_manager_cwu_interface_abstract.hpp"
#include "statemanager/status/holder_recorder_interface.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vela::ap::statemanager
{

/// The hub between the applications' requests and UDP network management. It owns the provided
/// services (ECU alive, COM alive, car wake-up, DSA), the NM client and the NM user-data
/// aggregator; it turns application requests into network requests and user data and tracks
/// whether the network still keeps the ECU awake.
///
/// Threads: the Service_handler_interface operations are called by the main loop; the request
/// handlers run on middleware workers (calls of applications); the NetworkState handler and the
/// find-service completion run on the NM client's middleware threads. One mutex serialises every
/// request path: each public operation takes it once and works through the private ..._locked
/// helpers, which expect it held.
class Service_handler final : public Service_handler_interface, public services::Ecu_alive_interface_callback
{
  public:
    /// Network request made on behalf of ECU-alive requests (bit 24).
    static inline const Bit_vector ecu_alive_pattern{0x00, 0x00, 0x00, 0x01};
    /// Every CAB bit of a 24-bit CAB field plus the ECU-alive bit: released once when the NM
    /// services are found, clearing whatever a previous run left requested.
    static inline const Bit_vector s_all_cab_bits_set{0xFF, 0xFF, 0xFF, 0x01};
    /// Aggregation width of the NM user-data model, in bytes.
    static constexpr std::size_t s_aggregation_width = 4;

    /// Creates the DSA service (writing to the configured restart command file) and one ECU-alive
    /// service per configured instance. Nothing is offered yet. recorder, when given, learns who
    /// holds which request, the ECU state and when NM messages stop and start.
    Service_handler(const config::State_manager_config_abstract& config,
                    std::unique_ptr<Nm_interface_abstract> nm,
                    std::vector<std::unique_ptr<State_manager_com_alive_interface_abstract>> com_alive,
                    std::vector<std::unique_ptr<State_manager_cwu_interface_abstract>> cwu,
                    std::shared_ptr<status::Holder_recorder_interface> recorder = nullptr);
    ~Service_handler() override;

    Service_handler(const Service_handler&) = delete;
    Service_handler& operator=(const Service_handler&) = delete;

    void init() override;
    void deinit() override;
    bool nm_interface_available() const override;
    bool apps_keep_com_alive() const override;
    bool apps_keep_ecu_alive() const override;
    bool is_network_in_use() const override;
    bool ecu_in_sleep_mode() const override;
    void request_network() override;
    void release_network() override;
    void standby() override;
    void end_standby() override;

    void ecu_alive_request(const std::string& app_id) override;
    void ecu_alive_release(const std::string& app_id) override;

    /// RequestComAlive of the application app_id. Middleware worker.
    void handle_com_alive_request(const std::string& app_id,
                                  const std::vector<std::uint8_t>& cab_bits,
                                  std::uint8_t ac_value);
    /// ReleaseComAlive of the application app_id. Middleware worker.
    void handle_com_alive_release(const std::string& app_id, const std::vector<std::uint8_t>& cab_bits);
    /// RequestCarWakeUp of the application app_id. Middleware worker.
    void handle_cwu_request(const std::string& app_id, std::uint8_t ac_value);
    /// ReleaseCarWakeUp of the application app_id. Middleware worker.
    void handle_cwu_release(const std::string& app_id);

    /// Requests the CAB bits set in bits from the network (an all-zero vector changes nothing).
    void request_network(const std::vector<std::uint8_t>& bits);
    /// Releases the CAB bits set in bits, never those of the default request pattern.
    void release_network(const std::vector<std::uint8_t>& bits);
    /// Sends the first (effective user-data length) bytes of data when they differ from the
    /// user data sent last.
    void set_user_data(const std::vector<std::uint8_t>& data);
    /// Sends the aggregator's user data.
    void init_user_data();
    /// NetworkState notification: any non-zero byte means the network is active.
    void network_state_updated(const std::vector<std::uint8_t>& state);
    /// Active, then ready sleep at the first inactive report, inactive (sleep mode) at the second.
    void update_ecu_state(bool active);
    /// Offers the DSA service and, with NM usage, starts the search for the NM services.
    void start_offer_services();
    /// Offers the ECU-alive, COM-alive and car-wake-up services, unless the services were
    /// withdrawn already.
    void offer_services() const;

    /// Two lower-case hex digits and one blank per byte ("80 04 00 ").
    static std::string bitvector2str(const std::vector<std::uint8_t>& bits);

  private:
    /// The end of the handler, for deinit() and the destructor alike: withdraws every offer for
    /// good, then stops and destroys the NM client outside m_mutex; the NM calls made afterwards
    /// are dropped. Main thread.
    void stop_offering();
    /// Withdraws the DSA, ECU-alive, COM-alive and car-wake-up services for good; returns once no
    /// call of theirs runs.
    void withdraw_services();

    // The request paths below expect m_mutex held by the caller.
    void ecu_alive_request_locked(const std::string& app_id);
    void ecu_alive_release_locked(const std::string& app_id);
    void request_network_locked(const std::vector<std::uint8_t>& bits);
    void release_network_locked(const std::vector<std::uint8_t>& bits);
    void set_user_data_locked(const std::vector<std::uint8_t>& data);

    /// bitvector2str() of bits, of at most the first m_log_bytes bytes followed by
    /// "... (<size> bytes)" when bits is longer.
    std::string bits_for_log(const std::vector<std::uint8_t>& bits) const;
    /// Tells the recorder whether app_id holds an ECU-alive request now (an id that is no ECU-alive
    /// instance, such as the standby calls', is no holder). Under m_mutex.
    void record_ecu_alive(const std::string& app_id) const;
    /// Tells the recorder what app_id holds now of kind, as the aggregator books it. Under m_mutex.
    void record_aggregated(status::Holder_kind kind, const std::string& app_id) const;

    /// The network's activity as last notified.
    enum class Ecu_state : std::uint8_t
    {
        active = 0,
        ready_sleep = 1,
        inactive = 2, ///< sleep mode
    };

    const config::State_manager_config_abstract& m_config;
    // Set by the constructor, emptied by stop_offering() under m_mutex (main thread); read
    // under m_mutex, or on the main thread.
    std::unique_ptr<Nm_interface_abstract> m_nm;
    std::unique_ptr<services::Dsa_interface> m_dsa;
    std::vector<std::unique_ptr<services::Ecu_alive_interface>> m_ecu_alive_interfaces;
    std::vector<std::unique_ptr<State_manager_com_alive_interface_abstract>> m_com_alive_interfaces;
    std::vector<std::unique_ptr<State_manager_cwu_interface_abstract>> m_cwu_interfaces;
    // Records only; safe on every thread that reaches this handler.
    std::shared_ptr<status::Holder_recorder_interface> m_recorder;

    // Guards the aggregator's contents, the requested CAB bits, the user data and NM sending
    // enabled. Met by the main loop (standby, end_standby, apps_keep_com_alive), the middleware
    // workers running application requests and the NM client's find-service completion. Taken
    // once per public operation; never held while the NM client is stopped or destroyed.
    mutable std::mutex m_mutex;
    std::unique_ptr<nm::Nm_data_aggregator> m_aggregator;
    Bit_vector m_requested_cab_bits = Bit_vector(s_aggregation_width, 0);
    Bit_vector m_user_data;
    // Written by init() on the main thread before any service is offered or searched for.
    Bit_vector m_default_request_pattern;
    std::uint32_t m_user_data_length{0};
    // The most bytes of one vector a log line shows: what the configured user data can hold, and
    // never less than the aggregation width. Written by init() like the pattern above.
    std::size_t m_log_bytes{s_aggregation_width};
    bool m_nm_sending_enabled{true};

    // Guards m_withdrawn and the offering and withdrawing of the services: the main thread
    // (deinit, destructor) and the find-service completion (a middleware worker) meet here.
    mutable std::mutex m_offer_mutex;
    bool m_withdrawn{false};

    // Written by the NetworkState handler (one middleware strand), read by the main loop.
    std::atomic<Ecu_state> m_ecu_state{Ecu_state::active};
    // Set by the find-service completion (middleware worker), read by the main loop.
    std::atomic<bool> m_nm_interface_available{false};
};

} // namespace vela::ap::statemanager
