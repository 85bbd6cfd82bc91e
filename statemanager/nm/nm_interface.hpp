#pragma once

#include "kest/com/cpp_binding/service_finder.h"
#include "statemanager/nm/nm_interface_abstract.hpp"
#include "statemanager/skeleton/nm_proxies.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace vela::ap::statemanager
{

/// The client of the platform's UDP network management: finds the NetworkState and UserData
/// services through the middleware, keeps one proxy of each, forwards network requests and user
/// data as synchronous method calls and reports every new NetworkState value.
///
/// Every call waits at most the call timeout for its reply; a late reply is dropped. Whatever a
/// call throws (no service, no reply, an error return code) is logged at error level and the call
/// returns normally.
///
/// Threads: the request operations run on the caller's thread (main loop or a middleware worker,
/// under the service handler's mutex) and block until the reply; the two search handlers and the
/// NetworkState receive handler run on middleware workers, the search handlers possibly at the
/// same time.
class Nm_interface final : public Nm_interface_abstract
{
  public:
    /// How long an NM call waits for its reply unless configured otherwise.
    static constexpr std::chrono::milliseconds s_default_call_timeout{1000};
    /// The longest call timeout accepted from the environment.
    static constexpr std::chrono::milliseconds s_max_call_timeout{60000};
    /// The environment variable that configures the call timeout, in milliseconds.
    static constexpr const char* s_call_timeout_variable = "TARN1_NM_CALL_TIMEOUT_MS";

    /// Nothing found, nothing running; every call of the proxies made later waits at most
    /// call_timeout for its reply.
    explicit Nm_interface(std::chrono::milliseconds call_timeout = s_default_call_timeout);
    /// Stops the client (see stop()) before the state callback goes.
    ~Nm_interface() override;

    Nm_interface(const Nm_interface&) = delete;
    Nm_interface& operator=(const Nm_interface&) = delete;

    void release_network(const std::vector<std::uint8_t>& pattern) override;
    void request_network(const std::vector<std::uint8_t>& pattern) override;
    void set_user_data(const std::vector<std::uint8_t>& data) override;
    /// Starts both searches; on_found runs exactly once, in the search handler that completes the
    /// pair. Call once.
    void start_find_services(const std::function<void()>& on_found) override;
    /// Stops the searches still running, then drops the proxies (waiting for a running
    /// NetworkState handler). A second call finds nothing left to do.
    void stop() override;
    /// Must be set before start_find_services().
    void set_network_state_updated_func(const std::function<void(const std::vector<std::uint8_t>&)>& func) override;

    /// The call timeout given by text (the value of s_call_timeout_variable, or null when it is
    /// not set): a decimal number of milliseconds from 1 to s_max_call_timeout; anything else gives
    /// the default, logged at warning level when text was set.
    static std::chrono::milliseconds call_timeout_from(const char* text);

    /// Stops the NetworkState search if it runs.
    void stop_find_network_state_service();
    /// Stops the UserData search if it runs.
    void stop_find_user_data_service();

  private:
    using Network_state_proxy = kest::udpnm::interface::proxy::NetworkStateInterfaceProxy;
    using User_data_proxy = kest::udpnm::interface::proxy::UserDataInterfaceProxy;
    using Handles = std::vector<kest::com::cpp_binding::Service_handle>;

    void on_network_state_found(const Handles& handles);
    void on_user_data_found(const Handles& handles);
    /// Runs on_found when both services are there and nobody ran it yet.
    void run_on_found_once();
    /// Receive handler of the NetworkState notification.
    void network_state_field_updated();

    Network_state_proxy* network_state_proxy() const;
    User_data_proxy* user_data_proxy() const;

    const std::chrono::milliseconds m_call_timeout;
    kest::com::cpp_binding::Service_finder m_finder;
    // Written by start_find_services() and set_network_state_updated_func() on the main thread
    // before any search runs; afterwards only read (middleware workers).
    std::function<void(const std::vector<std::uint8_t>&)> m_state_callback;
    std::function<void()> m_on_found;
    std::atomic<bool> m_network_state_found{false};
    std::atomic<bool> m_user_data_found{false};
    std::atomic<bool> m_on_found_run{false};

    // Guards the two search handles: the main thread (start, destructor) and both search handlers
    // (stopping their own search) meet here. A handler can run before start_find_service() has
    // returned its handle; it then leaves a stop request that start_find_services() honours.
    std::mutex m_search_mutex;
    std::optional<kest::com::cpp_binding::Find_service_handle> m_network_state_search;
    std::optional<kest::com::cpp_binding::Find_service_handle> m_user_data_search;
    bool m_network_state_search_done{false};
    bool m_user_data_search_done{false};

    // Guards the two proxy pointers: each is set once by its search handler (middleware worker)
    // and read by the request operations (any thread) and the receive handler. A proxy, once set,
    // is never replaced, so callers use it after letting go of the lock.
    mutable std::mutex m_proxy_mutex;
    std::unique_ptr<Network_state_proxy> m_network_state_proxy;
    std::unique_ptr<User_data_proxy> m_user_data_proxy;
};

} // namespace vela::ap::statemanager
