#pragma once

#include "kest/com/cpp_binding/proxy_method.h"
#include "kest/com/cpp_binding/rport.h"
#include "kest/com/cpp_binding/service_handle.h"
#include "statemanager/skeleton/service_interfaces.hpp"

#include <cstdint>
#include <vector>

namespace vela::ap::statemanager::proxy
{

/// Consumer side of StateManagementComAliveInterface (applications, tools, tests): each method returns a future of the
/// completion; a reply with return code 0x80 (undecodable request) fails it with
/// Application_error_exception.
class StateManagementComAliveInterfaceProxy
{
  public:
    using HandleType = kest::com::cpp_binding::Service_handle;

    explicit StateManagementComAliveInterfaceProxy(const HandleType& handle);

    StateManagementComAliveInterfaceProxy(const StateManagementComAliveInterfaceProxy&) = delete;
    StateManagementComAliveInterfaceProxy& operator=(const StateManagementComAliveInterfaceProxy&) = delete;

    static const char* service_identifier() { return StateManagementComAliveInterface::service_identifier(); }
    kest::com::cpp_binding::Rport& port() noexcept { return m_port; }

  private:
    kest::com::cpp_binding::Rport m_port;

  public:
    kest::com::cpp_binding::Proxy_method<void, std::vector<std::uint8_t>> ReleaseComAlive;
    kest::com::cpp_binding::Proxy_method<void, std::vector<std::uint8_t>, std::uint8_t> RequestComAlive;
};

} // namespace vela::ap::statemanager::proxy
