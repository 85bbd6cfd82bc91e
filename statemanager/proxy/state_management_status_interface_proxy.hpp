#pragma once

#include "kest/com/cpp_binding/proxy_event.h"
#include "kest/com/cpp_binding/proxy_method.h"
#include "kest/com/cpp_binding/rport.h"
#include "kest/com/cpp_binding/service_handle.h"
#include "statemanager/skeleton/state_management_status_interface.hpp"

#include <vector>

namespace vela::ap::statemanager::proxy
{

/// Consumer side of StateManagementStatusInterface (statewarden_ctl, the simulator, tests). Methods
/// return a future of the reply; a reply that cannot be decoded fails it with Transport_exception.
/// State and TransitionReport arrive through their receive handlers on a middleware worker thread,
/// never concurrently with each other.
class StateManagementStatusInterfaceProxy
{
  public:
    using HandleType = kest::com::cpp_binding::Service_handle;

    explicit StateManagementStatusInterfaceProxy(const HandleType& handle);
    /// Unsets the receive handlers (waiting for a running one) before the port goes.
    ~StateManagementStatusInterfaceProxy();

    StateManagementStatusInterfaceProxy(const StateManagementStatusInterfaceProxy&) = delete;
    StateManagementStatusInterfaceProxy& operator=(const StateManagementStatusInterfaceProxy&) = delete;

    static const char* service_identifier() { return StateManagementStatusInterface::service_identifier(); }
    kest::com::cpp_binding::Rport& port() noexcept { return m_port; }

  private:
    kest::com::cpp_binding::Rport m_port;

  public:
    kest::com::cpp_binding::Proxy_method<status::Holders_reply> GetHolders;
    kest::com::cpp_binding::Proxy_method<std::vector<status::Transition_report>> GetHistory;
    kest::com::cpp_binding::Proxy_field<status::State_value> State;
    kest::com::cpp_binding::Proxy_event<status::Transition_report> TransitionReport;
};

} // namespace vela::ap::statemanager::proxy
