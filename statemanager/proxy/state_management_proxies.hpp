#pragma once

#include "ara/com/internal/proxy/proxy.h"
#include "kest/com/cpp_binding/proxy_event.h"
#include "kest/com/cpp_binding/proxy_method.h"
#include "statemanager/skeleton/service_interfaces.hpp"
#include "statemanager/skeleton/state_management_status_interface.hpp"

#include <cstdint>
#include <vector>

// The consumer sides of the five services Statewarden offers, for applications, tools and tests.
// Each proxy talks to the one instance its handle names; see docs/middleware.md for the wire form.

namespace vela::ap::statemanager::proxy
{

/// Consumer side of StateManagementAliveInterface (applications, tools, tests): each method returns a future of the
/// completion; a reply with return code 0x80 (undecodable request) fails it with
/// Application_error_exception.
class StateManagementAliveInterfaceProxy : public ara::com::internal::proxy::Proxy<StateManagementAliveInterface>
{
  public:
    explicit StateManagementAliveInterfaceProxy(const HandleType& handle);

    kest::com::cpp_binding::Proxy_method<void> ReleaseAlive;
    kest::com::cpp_binding::Proxy_method<void> RequestAlive;
};

/// Consumer side of StateManagementComAliveInterface (applications, tools, tests): each method returns a future of the
/// completion; a reply with return code 0x80 (undecodable request) fails it with
/// Application_error_exception.
class StateManagementComAliveInterfaceProxy : public ara::com::internal::proxy::Proxy<StateManagementComAliveInterface>
{
  public:
    explicit StateManagementComAliveInterfaceProxy(const HandleType& handle);

    kest::com::cpp_binding::Proxy_method<void, std::vector<std::uint8_t>> ReleaseComAlive;
    kest::com::cpp_binding::Proxy_method<void, std::vector<std::uint8_t>, std::uint8_t> RequestComAlive;
};

/// Consumer side of StateManagementCWUInterface (applications, tools, tests): each method returns a future of the
/// completion; a reply with return code 0x80 (undecodable request) fails it with
/// Application_error_exception.
class StateManagementCWUInterfaceProxy : public ara::com::internal::proxy::Proxy<StateManagementCWUInterface>
{
  public:
    explicit StateManagementCWUInterfaceProxy(const HandleType& handle);

    kest::com::cpp_binding::Proxy_method<void> ReleaseCarWakeUp;
    kest::com::cpp_binding::Proxy_method<void, std::uint8_t> RequestCarWakeUp;
};

/// Consumer side of DSAInterface (applications, tools, tests): each method returns a future of the
/// completion; a reply with return code 0x80 (undecodable request) fails it with
/// Application_error_exception.
class DSAInterfaceProxy : public ara::com::internal::proxy::Proxy<DSAInterface>
{
  public:
    explicit DSAInterfaceProxy(const HandleType& handle);

    kest::com::cpp_binding::Proxy_method<void, std::uint8_t> RequestRestart;
};

/// Consumer side of StateManagementStatusInterface (statewarden_ctl, the simulator, tests). Methods
/// return a future of the reply; a reply that cannot be decoded fails it with Transport_exception.
/// State and TransitionReport arrive through their receive handlers on a middleware worker thread,
/// never concurrently with each other.
class StateManagementStatusInterfaceProxy : public ara::com::internal::proxy::Proxy<StateManagementStatusInterface>
{
  public:
    explicit StateManagementStatusInterfaceProxy(const HandleType& handle);
    /// Unsets the receive handlers (waiting for a running one) before the port goes.
    ~StateManagementStatusInterfaceProxy();

    kest::com::cpp_binding::Proxy_method<status::Holders_reply> GetHolders;
    kest::com::cpp_binding::Proxy_method<std::vector<status::Transition_report>> GetHistory;
    kest::com::cpp_binding::Proxy_field<status::State_value> State;
    kest::com::cpp_binding::Proxy_event<status::Transition_report> TransitionReport;
};

} // namespace vela::ap::statemanager::proxy
