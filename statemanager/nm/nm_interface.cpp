#include "statemanager/nm/nm_interface.hpp"

#include "ara/log/logging.h"
#include "kest/com/exceptions.h"

#include <cstdio>
#include <exception>
#include <string>

namespace vela::ap::statemanager
{

namespace
{

const char* const s_any_instance = "*";

/// Runs one middleware operation of the NM client and logs whatever it throws instead of passing
/// it on: no answer of the NM side, and no failure to reach it, ends the daemon. what names the
/// operation in the log ("NM call SetUserData").
template <typename Call> void guarded(const char* what, Call&& call)
{
    try
    {
        call();
    }
    catch (const kest::com::Infrastructure_exception& error)
    {
        ara::log::LogError() << "infrastructure exception " << error.what();
    }
    catch (const kest::com::cpp_binding::Application_error_exception& error)
    {
        char code[8];
        (void)std::snprintf(code, sizeof code, "0x%02x", static_cast<unsigned>(error.return_code()));
        ara::log::LogError() << what << " failed with return code " << code;
    }
    catch (const std::exception& error)
    {
        ara::log::LogError() << what << " failed: " << error.what();
    }
    catch (...)
    {
        ara::log::LogError() << what << " failed with an unknown error";
    }
}

} // namespace

Nm_interface::Nm_interface(std::chrono::milliseconds call_timeout)
    : m_call_timeout(call_timeout)
{
}

std::chrono::milliseconds Nm_interface::call_timeout_from(const char* text)
{
    if (text == nullptr)
    {
        return s_default_call_timeout;
    }
    const auto longest = static_cast<std::uint64_t>(s_max_call_timeout.count());
    std::uint64_t value = 0;
    const char* digit = text;
    // Stops as soon as the value is out of range, so it never overflows.
    for (; *digit >= '0' && *digit <= '9' && value <= longest; ++digit)
    {
        value = value * 10 + static_cast<std::uint64_t>(*digit - '0');
    }
    if (digit == text || *digit != '\0' || value == 0 || value > longest)
    {
        ara::log::LogWarn() << "NM call timeout \"" << text << "\" is no number of milliseconds from 1 to " << longest
                            << ", " << static_cast<std::uint64_t>(s_default_call_timeout.count()) << " is used";
        return s_default_call_timeout;
    }
    return std::chrono::milliseconds(static_cast<std::chrono::milliseconds::rep>(value));
}

Nm_interface::~Nm_interface()
{
    stop();
}

void Nm_interface::stop()
{
    stop_find_network_state_service();
    stop_find_user_data_service();
    // The proxies go before the state callback: the NetworkState proxy waits for a running
    // receive handler, which uses the callback (and takes the proxy lock, hence outside it).
    std::unique_ptr<User_data_proxy> user_data;
    std::unique_ptr<Network_state_proxy> network_state;
    {
        std::lock_guard<std::mutex> lock(m_proxy_mutex);
        user_data.swap(m_user_data_proxy);
        network_state.swap(m_network_state_proxy);
    }
    user_data.reset();
    network_state.reset();
}

void Nm_interface::release_network(const std::vector<std::uint8_t>& pattern)
{
    if (Network_state_proxy* const proxy = network_state_proxy())
    {
        guarded("NM call ReleaseNetwork", [&] { proxy->ReleaseNetwork(pattern).get(); });
    }
}

void Nm_interface::request_network(const std::vector<std::uint8_t>& pattern)
{
    if (Network_state_proxy* const proxy = network_state_proxy())
    {
        guarded("NM call RequestNetwork", [&] { proxy->RequestNetwork(pattern).get(); });
    }
}

void Nm_interface::set_user_data(const std::vector<std::uint8_t>& data)
{
    if (User_data_proxy* const proxy = user_data_proxy())
    {
        guarded("NM call SetUserData", [&] { proxy->SetUserData(data).get(); });
    }
}

void Nm_interface::start_find_services(const std::function<void()>& on_found)
{
    m_on_found = on_found;

    const kest::com::cpp_binding::Find_service_handle network_state_search = m_finder.start_find_service(
        [this](const Handles& handles) { on_network_state_found(handles); },
        vela::com::runtime::Service_id(kest::udpnm::interface::NetworkStateInterface::service_identifier()),
        vela::com::runtime::Instance_id(s_any_instance));
    bool stop_now = false;
    {
        std::lock_guard<std::mutex> lock(m_search_mutex);
        m_network_state_search = network_state_search;
        stop_now = m_network_state_search_done;
    }
    if (stop_now)
    {
        stop_find_network_state_service();
    }

    const kest::com::cpp_binding::Find_service_handle user_data_search = m_finder.start_find_service(
        [this](const Handles& handles) { on_user_data_found(handles); },
        vela::com::runtime::Service_id(kest::udpnm::interface::UserDataInterface::service_identifier()),
        vela::com::runtime::Instance_id(s_any_instance));
    {
        std::lock_guard<std::mutex> lock(m_search_mutex);
        m_user_data_search = user_data_search;
        stop_now = m_user_data_search_done;
    }
    if (stop_now)
    {
        stop_find_user_data_service();
    }
}

void Nm_interface::set_network_state_updated_func(const std::function<void(const std::vector<std::uint8_t>&)>& func)
{
    m_state_callback = func;
}

void Nm_interface::stop_find_network_state_service()
{
    std::optional<kest::com::cpp_binding::Find_service_handle> search;
    {
        std::lock_guard<std::mutex> lock(m_search_mutex);
        search.swap(m_network_state_search);
    }
    if (search)
    {
        ara::log::LogInfo() << "Stopping NetworkState service lookup";
        m_finder.stop_find_service(*search);
    }
}

void Nm_interface::stop_find_user_data_service()
{
    std::optional<kest::com::cpp_binding::Find_service_handle> search;
    {
        std::lock_guard<std::mutex> lock(m_search_mutex);
        search.swap(m_user_data_search);
    }
    if (search)
    {
        ara::log::LogInfo() << "Stopping UserData service lookup";
        m_finder.stop_find_service(*search);
    }
}

void Nm_interface::on_network_state_found(const Handles& handles)
{
    // Once found, the proxy stays: a later list (the service withdrawn and offered again) is
    // followed by the proxy's own reconnection.
    if (m_network_state_found.load())
    {
        return;
    }
    if (handles.empty())
    {
        ara::log::LogWarn() << "Could not find NetworkState service";
        return;
    }
    ara::log::LogInfo() << "Found NetworkState service";
    Network_state_proxy* proxy = nullptr;
    guarded("NM proxy of NetworkState",
            [&]
            {
                auto created = std::make_unique<Network_state_proxy>(handles.front());
                // A silent NM side holds the caller (and the service handler's lock) only this long.
                created->port().set_call_timeout(m_call_timeout);
                proxy = created.get();
                std::lock_guard<std::mutex> lock(m_proxy_mutex);
                m_network_state_proxy = std::move(created);
            });
    if (proxy == nullptr)
    {
        return;
    }
    guarded("NM subscription to NetworkState",
            [&]
            {
                proxy->NetworkState.SetReceiveHandler([this] { network_state_field_updated(); });
                proxy->NetworkState.Subscribe(1);
            });
    m_network_state_found.store(true);
    run_on_found_once();
    {
        std::lock_guard<std::mutex> lock(m_search_mutex);
        m_network_state_search_done = true;
    }
    stop_find_network_state_service();
}

void Nm_interface::on_user_data_found(const Handles& handles)
{
    if (m_user_data_found.load())
    {
        return;
    }
    if (handles.empty())
    {
        ara::log::LogWarn() << "Could not find UserData service";
        return;
    }
    ara::log::LogInfo() << "Found UserData service";
    bool created_proxy = false;
    guarded("NM proxy of UserData",
            [&]
            {
                auto created = std::make_unique<User_data_proxy>(handles.front());
                created->port().set_call_timeout(m_call_timeout);
                std::lock_guard<std::mutex> lock(m_proxy_mutex);
                m_user_data_proxy = std::move(created);
                created_proxy = true;
            });
    if (!created_proxy)
    {
        return;
    }
    m_user_data_found.store(true);
    run_on_found_once();
    {
        std::lock_guard<std::mutex> lock(m_search_mutex);
        m_user_data_search_done = true;
    }
    stop_find_user_data_service();
}

void Nm_interface::run_on_found_once()
{
    if (m_network_state_found.load() && m_user_data_found.load() && !m_on_found_run.exchange(true) && m_on_found)
    {
        m_on_found();
    }
}

void Nm_interface::network_state_field_updated()
{
    Network_state_proxy* const proxy = network_state_proxy();
    if (proxy == nullptr)
    {
        return;
    }
    std::vector<std::uint8_t> state;
    bool fresh = false;
    guarded("NM update of NetworkState",
            [&]
            {
                // Only new samples count: a run that finds nothing new (its samples were taken by the
                // run before) must not deliver the cached value a second time.
                if (proxy->NetworkState.Update() != 0 && !proxy->NetworkState.GetCachedSamples().empty())
                {
                    state = proxy->NetworkState.GetCachedSamples().back();
                    fresh = true;
                }
            });
    if (!fresh)
    {
        return;
    }
    if (m_state_callback)
    {
        m_state_callback(state);
    }
    else
    {
        ara::log::LogError() << "NetworkState notification before a receiver was set, dropped";
    }
}

Nm_interface::Network_state_proxy* Nm_interface::network_state_proxy() const
{
    std::lock_guard<std::mutex> lock(m_proxy_mutex);
    return m_network_state_proxy.get();
}

Nm_interface::User_data_proxy* Nm_interface::user_data_proxy() const
{
    std::lock_guard<std::mutex> lock(m_proxy_mutex);
    return m_user_data_proxy.get();
}

} // namespace vela::ap::statemanager
