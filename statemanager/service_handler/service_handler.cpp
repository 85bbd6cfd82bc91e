#include "statemanager/service_handler/service_handler.hpp"

#include "ara/log/logging.h"
#include "kest/com/exceptions.h"

#include <algorithm>
#include <cstdio>

namespace vela::ap::statemanager
{

namespace
{

bool all_zero(const std::vector<std::uint8_t>& bits)
{
    return std::all_of(bits.begin(), bits.end(), [](std::uint8_t byte) { return byte == 0; });
}

/// Offers one provided service; a middleware failure is logged and the others still go.
template <typename Service> void offer(Service& service)
{
    try
    {
        service.OfferService();
    }
    catch (const kest::com::Infrastructure_exception& error)
    {
        ara::log::LogError() << "infrastructure exception " << error.what();
    }
}

} // namespace

Service_handler::Service_handler(const config::State_manager_config_abstract& config,
                                 std::unique_ptr<Nm_interface_abstract> nm,
                                 std::vector<std::unique_ptr<State_manager_com_alive_interface_abstract>> com_alive,
                                 std::vector<std::unique_ptr<State_manager_cwu_interface_abstract>> cwu,
                                 std::shared_ptr<status::Holder_recorder_interface> recorder)
    : m_config(config)
    , m_nm(std::move(nm))
    , m_dsa(std::make_unique<services::Dsa_interface>(config.get_smw_restart_command_path()))
    , m_com_alive_interfaces(std::move(com_alive))
    , m_cwu_interfaces(std::move(cwu))
    , m_recorder(std::move(recorder))
{
    for (const std::string& instance : m_config.get_apps_ecualive())
    {
        m_ecu_alive_interfaces.push_back(std::make_unique<services::Ecu_alive_interface>(instance, this));
    }
}

Service_handler::~Service_handler()
{
    // Also when deinit() did not run: no application call may reach the NM client or the
    // aggregator while they go.
    stop_offering();
}

void Service_handler::init()
{
    for (const auto& service : m_com_alive_interfaces)
    {
        const std::string app_id = service->get_app_id();
        service->set_com_alive_request_cb([this, app_id](const std::vector<std::uint8_t>& cab_bits, std::uint8_t ac)
                                          { handle_com_alive_request(app_id, cab_bits, ac); });
        service->set_com_alive_release_cb([this, app_id](const std::vector<std::uint8_t>& cab_bits)
                                          { handle_com_alive_release(app_id, cab_bits); });
    }
    for (const auto& service : m_cwu_interfaces)
    {
        const std::string app_id = service->get_app_id();
        service->set_cwu_request_cb([this, app_id](std::uint8_t ac) { handle_cwu_request(app_id, ac); });
        service->set_cwu_release_cb([this, app_id]() { handle_cwu_release(app_id); });
    }

    if (!m_config.is_nm_usage_allowed())
    {
        ara::log::LogInfo() << "NM usage is disabled";
        start_offer_services();
        return;
    }

    ara::log::LogInfo() << "NM usage is enabled";
    m_nm->set_network_state_updated_func([this](const std::vector<std::uint8_t>& state)
                                         { network_state_updated(state); });

    m_default_request_pattern = m_config.get_nm_request_pattern();
    ara::log::LogInfo() << "The following NM request pattern is used: " + bitvector2str(m_default_request_pattern);

    const config::Nm_user_data_config layout = m_config.get_nm_user_data_config();
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_user_data_length = layout.user_data_bytes;
        if (!layout.cab_bits_enabled)
        {
            m_user_data_length = layout.user_data_bytes - layout.cabbits_bytes;
        }
        m_user_data.resize(m_user_data_length, 0);
        m_log_bytes = std::max<std::size_t>(layout.user_data_bytes, s_aggregation_width);
        m_aggregator = std::make_unique<nm::Nm_data_aggregator>(layout);
        m_aggregator->init(s_aggregation_width);
    }

    start_offer_services();
}

void Service_handler::deinit()
{
    stop_offering();
}

void Service_handler::stop_offering()
{
    // The offers go first: once withdrawn, no application call runs any more, so none can reach
    // the NM client while it is stopped and destroyed.
    withdraw_services();
    std::unique_ptr<Nm_interface_abstract> nm;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        nm.swap(m_nm);
    }
    // Outside the lock: stopping ends the client's searches, waiting for a running find-service
    // completion, which takes the lock (it reaches the client through the pointer it was given,
    // not through m_nm). The client is destroyed when nm goes, still outside the lock.
    if (nm != nullptr)
    {
        nm->stop();
    }
}

void Service_handler::withdraw_services()
{
    // A service that was never offered (the NM-side ones without NM usage) is left as it is.
    const std::lock_guard<std::mutex> lock(m_offer_mutex);
    m_withdrawn = true;
    m_dsa->StopOfferService();
    for (const auto& service : m_ecu_alive_interfaces)
    {
        service->StopOfferService();
    }
    for (const auto& service : m_com_alive_interfaces)
    {
        service->StopOfferService();
    }
    for (const auto& service : m_cwu_interfaces)
    {
        service->StopOfferService();
    }
}

bool Service_handler::nm_interface_available() const
{
    return m_nm_interface_available.load(std::memory_order_acquire);
}

bool Service_handler::apps_keep_com_alive() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_aggregator != nullptr && m_aggregator->is_com_alive();
}

bool Service_handler::apps_keep_ecu_alive() const
{
    return std::any_of(m_ecu_alive_interfaces.begin(),
                       m_ecu_alive_interfaces.end(),
                       [](const auto& service) { return service->app_keeps_ecu_alive(); });
}

bool Service_handler::is_network_in_use() const
{
    return apps_keep_com_alive() || apps_keep_ecu_alive();
}

bool Service_handler::ecu_in_sleep_mode() const
{
    return m_ecu_state.load() == Ecu_state::inactive;
}

void Service_handler::request_network()
{
    ara::log::LogInfo() << "Requesting network with default NM pattern";
    if (m_nm != nullptr)
    {
        m_nm->request_network(m_default_request_pattern);
    }
}

void Service_handler::release_network()
{
    ara::log::LogInfo() << "Releasing network with default NM pattern";
    if (m_nm != nullptr)
    {
        m_nm->release_network(m_default_request_pattern);
    }
}

void Service_handler::standby()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (m_config.is_nm_usage_allowed())
    {
        ara::log::LogInfo() << "Stop sending NM messages";
        ecu_alive_release_locked("Standby call");
        if (m_nm != nullptr)
        {
            m_nm->set_user_data(std::vector<std::uint8_t>(m_user_data.size(), 0));
            m_nm->release_network(m_requested_cab_bits);
            m_nm->release_network(m_default_request_pattern);
        }
    }
    else
    {
        ara::log::LogInfo() << "UdpNm usage disabled, no preparing actions performed";
    }
    m_nm_sending_enabled = false;
    if (m_recorder)
    {
        m_recorder->nm_sending_changed(false);
    }
}

void Service_handler::end_standby()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_nm_sending_enabled = true;
    if (m_recorder)
    {
        m_recorder->nm_sending_changed(true);
    }
    if (!m_config.is_nm_usage_allowed())
    {
        ara::log::LogInfo() << "UdpNm usage disabled, no resuming actions performed";
        return;
    }
    ara::log::LogInfo() << "Start sending NM messages";
    if (m_nm == nullptr)
    {
        return;
    }
    m_nm->request_network(m_default_request_pattern);
    m_nm->request_network(m_requested_cab_bits);
    if (apps_keep_ecu_alive())
    {
        ecu_alive_request_locked("End standby call");
    }
    std::vector<std::uint8_t> data =
        m_aggregator != nullptr ? m_aggregator->get_user_data() : std::vector<std::uint8_t>{};
    data.resize(m_user_data.size(), 0);
    m_nm->set_user_data(data);
}

void Service_handler::ecu_alive_request(const std::string& app_id)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    ecu_alive_request_locked(app_id);
}

void Service_handler::ecu_alive_request_locked(const std::string& app_id)
{
    ara::log::LogInfo() << "State_manager::ecu_alive_request: " + app_id;
    if (m_nm_sending_enabled && m_nm != nullptr)
    {
        m_nm->request_network(ecu_alive_pattern);
    }
    record_ecu_alive(app_id);
}

void Service_handler::ecu_alive_release(const std::string& app_id)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    ecu_alive_release_locked(app_id);
}

void Service_handler::ecu_alive_release_locked(const std::string& app_id)
{
    ara::log::LogDebug() << "State_manager::ecu_alive_release: " + app_id;
    if (!apps_keep_ecu_alive() && m_nm_sending_enabled)
    {
        ara::log::LogInfo() << "State_manager::ecu_alive_release network";
        if (m_nm != nullptr)
        {
            m_nm->release_network(ecu_alive_pattern);
        }
    }
    record_ecu_alive(app_id);
}

void Service_handler::handle_com_alive_request(const std::string& app_id,
                                               const std::vector<std::uint8_t>& cab_bits,
                                               std::uint8_t ac_value)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    ara::log::LogInfo() << "State_manager::handle_com_alive_request(" + app_id + ", " + bits_for_log(cab_bits) + ", " +
                               std::to_string(ac_value) + ")";
    if (m_aggregator == nullptr)
    {
        return;
    }
    m_aggregator->set_ac_bit(app_id, ac_value);
    m_aggregator->request_cab_bits(app_id, cab_bits);
    // Only what is newly aggregated is requested; bits held already stay requested.
    request_network_locked(m_aggregator->get_application_bits() ^ m_requested_cab_bits);
    set_user_data_locked(m_aggregator->get_user_data());
    record_aggregated(status::Holder_kind::com_alive, app_id);
}

void Service_handler::handle_com_alive_release(const std::string& app_id, const std::vector<std::uint8_t>& cab_bits)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    ara::log::LogInfo() << "State_manager::handle_com_alive_release(" + app_id + ", " + bits_for_log(cab_bits) + ")";
    if (m_aggregator == nullptr)
    {
        return;
    }
    m_aggregator->release_cab_bits(app_id, cab_bits);
    // Only bits that no application holds any more are released.
    release_network_locked(m_aggregator->get_application_bits() ^ m_requested_cab_bits);
    set_user_data_locked(m_aggregator->get_user_data());
    record_aggregated(status::Holder_kind::com_alive, app_id);
}

void Service_handler::handle_cwu_request(const std::string& app_id, std::uint8_t ac_value)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    ara::log::LogInfo() << "State_manager::handle_cwu_request(" + app_id + ", " + std::to_string(ac_value) + ")";
    if (m_aggregator == nullptr)
    {
        return;
    }
    m_aggregator->set_ac_bit(app_id, ac_value);
    m_aggregator->request_cwu(app_id);
    set_user_data_locked(m_aggregator->get_user_data());
    record_aggregated(status::Holder_kind::cwu, app_id);
}

void Service_handler::handle_cwu_release(const std::string& app_id)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    ara::log::LogInfo() << "State_manager::handle_cwu_release(" + app_id + ")";
    if (m_aggregator == nullptr)
    {
        return;
    }
    m_aggregator->release_cwu(app_id);
    set_user_data_locked(m_aggregator->get_user_data());
    record_aggregated(status::Holder_kind::cwu, app_id);
    // A release of the car wake-up may also have withdrawn the application's AC value.
    record_aggregated(status::Holder_kind::com_alive, app_id);
}

void Service_handler::request_network(const std::vector<std::uint8_t>& bits)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    request_network_locked(bits);
}

void Service_handler::request_network_locked(const std::vector<std::uint8_t>& bits)
{
    if (all_zero(bits))
    {
        ara::log::LogInfo() << "State_manager::request_network: no changes to CAB pattern";
        return;
    }
    ara::log::LogInfo() << "State_manager::request_network(" + bits_for_log(bits) + ")";
    m_requested_cab_bits |= bits;
    if (m_nm_sending_enabled && m_nm != nullptr)
    {
        m_nm->request_network(bits);
    }
}

void Service_handler::release_network(const std::vector<std::uint8_t>& bits)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    release_network_locked(bits);
}

void Service_handler::release_network_locked(const std::vector<std::uint8_t>& bits)
{
    if (all_zero(bits))
    {
        ara::log::LogInfo() << "State_manager::release_network: no changes to CAB pattern";
        return;
    }
    ara::log::LogInfo() << "State_manager::release_network(" + bits_for_log(bits) + ")";
    m_requested_cab_bits &= ~bits;
    if (m_nm_sending_enabled && m_nm != nullptr)
    {
        // Bits of the default pattern belong to the state machine's own request. The pattern's
        // missing bytes count as zero: a pattern shorter than the bits must not cut off bits that
        // were requested, or they would stay requested for good.
        const std::size_t length = std::max(bits.size(), m_default_request_pattern.size());
        Bit_vector released = bits;
        Bit_vector kept = m_default_request_pattern;
        released.resize(length, 0);
        kept.resize(length, 0);
        m_nm->release_network(released & ~kept);
    }
}

void Service_handler::set_user_data(const std::vector<std::uint8_t>& data)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    set_user_data_locked(data);
}

void Service_handler::set_user_data_locked(const std::vector<std::uint8_t>& data)
{
    const std::size_t length = std::min<std::size_t>(m_user_data_length, data.size());
    if (length == 0 ||
        std::equal(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length), m_user_data.begin()))
    {
        ara::log::LogInfo() << "State_manager::set_user_data: no change to user data";
        return;
    }
    std::copy_n(data.begin(), length, m_user_data.begin());
    ara::log::LogInfo() << "State_manager::set_user_data(" + bitvector2str(m_user_data) + ")";
    if (m_nm_sending_enabled && m_nm != nullptr)
    {
        m_nm->set_user_data(m_user_data);
    }
}

void Service_handler::init_user_data()
{
    ara::log::LogInfo() << "Initializing user data";
    const std::lock_guard<std::mutex> lock(m_mutex);
    set_user_data_locked(m_aggregator != nullptr ? m_aggregator->get_user_data() : std::vector<std::uint8_t>{});
}

void Service_handler::network_state_updated(const std::vector<std::uint8_t>& state)
{
    ara::log::LogInfo() << "We received the notification that network was updated: " + bits_for_log(state);
    update_ecu_state(!all_zero(state));
}

void Service_handler::update_ecu_state(bool active)
{
    if (active)
    {
        ara::log::LogInfo() << "Ecu state based on NM activity: active";
        m_ecu_state.store(Ecu_state::active);
    }
    else if (m_ecu_state.load() == Ecu_state::active)
    {
        ara::log::LogInfo() << "Ecu state based on NM activity: ready sleep";
        m_ecu_state.store(Ecu_state::ready_sleep);
    }
    else
    {
        ara::log::LogInfo() << "Ecu state based on NM activity: inactive (sleep mode)";
        m_ecu_state.store(Ecu_state::inactive);
    }
    if (m_recorder)
    {
        m_recorder->ecu_state_changed(static_cast<std::uint8_t>(m_ecu_state.load()));
    }
}

void Service_handler::start_offer_services()
{
    ara::log::LogInfo() << "Offering DSA service";
    offer(*m_dsa);
    if (!m_config.is_nm_usage_allowed())
    {
        return;
    }
    ara::log::LogInfo() << "Looking up UdpNM services...";
    m_nm->start_find_services(
        [this, nm = m_nm.get()]
        {
            init_user_data();
            nm->release_network(s_all_cab_bits_set);
            offer_services();
            m_nm_interface_available.store(true, std::memory_order_release);
        });
}

void Service_handler::offer_services() const
{
    // The services are withdrawn for good once the handler is shutting down; a search that
    // completes meanwhile must not offer them again.
    std::lock_guard<std::mutex> lock(m_offer_mutex);
    if (m_withdrawn)
    {
        return;
    }
    ara::log::LogInfo() << "Offering ECU alive services";
    for (const auto& service : m_ecu_alive_interfaces)
    {
        offer(*service);
    }
    ara::log::LogInfo() << "Offering COM alive services";
    for (const auto& service : m_com_alive_interfaces)
    {
        offer(*service);
    }
    ara::log::LogInfo() << "Offering CWU services";
    for (const auto& service : m_cwu_interfaces)
    {
        offer(*service);
    }
}

std::string Service_handler::bits_for_log(const std::vector<std::uint8_t>& bits) const
{
    // A peer decides how long its vectors are (up to a whole middleware frame); a line logs no
    // more than the user data can hold, and the length of the rest.
    if (bits.size() <= m_log_bytes)
    {
        return bitvector2str(bits);
    }
    return bitvector2str(
               std::vector<std::uint8_t>(bits.begin(), bits.begin() + static_cast<std::ptrdiff_t>(m_log_bytes))) +
           "... (" + std::to_string(bits.size()) + " bytes)";
}

void Service_handler::record_ecu_alive(const std::string& app_id) const
{
    if (!m_recorder)
    {
        return;
    }
    for (const auto& service : m_ecu_alive_interfaces)
    {
        if (service->get_app_id() == app_id)
        {
            m_recorder->holder_changed(status::Holder_kind::ecu_alive, app_id, service->app_keeps_ecu_alive(), {}, 0);
            return;
        }
    }
}

void Service_handler::record_aggregated(status::Holder_kind kind, const std::string& app_id) const
{
    if (!m_recorder || m_aggregator == nullptr)
    {
        return;
    }
    const nm::Application_stats* stats = m_aggregator->find_application(app_id);
    if (stats == nullptr)
    {
        return;
    }
    std::uint8_t ac = 0;
    const Bit_vector& ac_bits = stats->get_ac_bits();
    for (std::size_t bit = 0; bit < ac_bits.size() * 8 && ac == 0; ++bit)
    {
        if ((ac_bits[bit / 8] & (1U << (bit % 8))) != 0)
        {
            ac = static_cast<std::uint8_t>(bit + 1);
        }
    }
    const Bit_vector& bits = stats->get_application_bits();
    if (kind == status::Holder_kind::cwu)
    {
        m_recorder->holder_changed(kind, app_id, stats->is_cwu_active(), {}, ac);
        return;
    }
    // A COM-alive request holds while any of its CAB bits is left; shown at the aggregation width,
    // longer when the application keeps bits beyond it.
    std::size_t length = s_aggregation_width;
    for (std::size_t index = bits.size(); index > length; --index)
    {
        if (bits[index - 1] != 0)
        {
            length = index;
            break;
        }
    }
    const bool active = std::any_of(bits.begin(), bits.end(), [](std::uint8_t byte) { return byte != 0; });
    m_recorder->holder_changed(
        kind,
        app_id,
        active,
        Bit_vector(bits.begin(), bits.begin() + static_cast<std::ptrdiff_t>(std::min(length, bits.size()))),
        ac);
}

std::string Service_handler::bitvector2str(const std::vector<std::uint8_t>& bits)
{
    std::string text;
    text.reserve(bits.size() * 3);
    for (const std::uint8_t byte : bits)
    {
        char digits[4];
        (void)std::snprintf(digits, sizeof digits, "%02x ", static_cast<unsigned>(byte));
        text += digits;
    }
    return text;
}

} // namespace vela::ap::statemanager
