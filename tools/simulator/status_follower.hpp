#pragma once

#include "kest/com/cpp_binding/service_finder.h"
#include "statemanager/proxy/state_management_proxies.hpp"
#include "tools/simulator/journal.hpp"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarn1::simulator
{

/// Follows the daemon's status service: each state change becomes a "report" event, the clients
/// of its notification round a "round" event ("name (group) answer latency | ..."), and the
/// holders a "holders" event ("none", or "kind instance ... | ...") after every state change and
/// every application request.
class Status_follower final
{
  public:
    explicit Status_follower(Journal& journal);
    ~Status_follower();

    Status_follower(const Status_follower&) = delete;
    Status_follower& operator=(const Status_follower&) = delete;

    /// Asks for the holders; the answer becomes a "holders" event. Runner thread.
    void refresh();

  private:
    using Proxy = vela::ap::statemanager::proxy::StateManagementStatusInterfaceProxy;

    /// The search's handler (a middleware worker): the first offer found makes the proxy, which
    /// follows the service from then on, also across a restart of the daemon.
    void on_found(const std::vector<kest::com::cpp_binding::Service_handle>& handles);
    /// The report's receive handler (a middleware worker).
    void on_reports(Proxy& proxy);
    /// The answer comes on whichever thread completes the call, without anyone waiting for it.
    void ask_holders(Proxy& proxy);

    Journal& m_journal;
    kest::com::cpp_binding::Service_finder m_finder;
    kest::com::cpp_binding::Find_service_handle m_search;
    // Guards m_proxy while the search's handler may make it: met by that handler (a middleware
    // worker) and the runner thread.
    std::mutex m_mutex;
    std::unique_ptr<Proxy> m_proxy;
};

} // namespace tarn1::simulator
