#pragma once

#include "kest/com/cpp_binding/proxy_method.h"
#include "kest/com/cpp_binding/rport.h"
#include "kest/com/cpp_binding/service_handle.h"
#include "statemanager/skeleton/service_interfaces.hpp"

#include <cstdint>
#include <vector>

namespace vela::ap::statemanager::proxy
{

/// Consumer side of StateManagementAliveInterface (applications, tools, tests): each method returns a future of the
/// completion; a reply with return code 0x80 (undecodable request) fails it with
/// Application_error_exception.
class StateManagementAliveInterfaceProxy
{
  public:
    using HandleType = kest::com::cpp_binding::Service_handle;

    explicit StateManagementAliveInterfaceProxy(const HandleType& handle);

    StateManagementAliveInterfaceProxy(const StateManagementAliveInterfaceProxy&) = delete;
    StateManagementAliveInterfaceProxy& operator=(const StateManagementAliveInterfaceProxy&) = delete;

    static const char* service_identifier() { return StateManagementAliveInterface::service_identifier(); }
    kest::com::cpp_binding::Rport& port() noexcept { return m_port; }

  private:
    kest::com::cpp_binding::Rport m_port;

  public:
    kest::com::cpp_binding::Proxy_method<void> ReleaseAlive;
    kest::com::cpp_binding::Proxy_method<void> RequestAlive;
};

} // namespace vela::ap::statemanager::proxy
