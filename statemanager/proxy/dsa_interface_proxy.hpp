#pragma once

#include "kest/com/cpp_binding/proxy_method.h"
#include "kest/com/cpp_binding/rport.h"
#include "kest/com/cpp_binding/service_handle.h"
#include "statemanager/skeleton/service_interfaces.hpp"

#include <cstdint>
#include <vector>

namespace vela::ap::statemanager::proxy
{

/// Consumer side of DSAInterface (applications, tools, tests): each method returns a future of the
/// completion; a reply with return code 0x80 (undecodable request) fails it with
/// Application_error_exception.
class DSAInterfaceProxy
{
  public:
    using HandleType = kest::com::cpp_binding::Service_handle;

    explicit DSAInterfaceProxy(const HandleType& handle);

    DSAInterfaceProxy(const DSAInterfaceProxy&) = delete;
    DSAInterfaceProxy& operator=(const DSAInterfaceProxy&) = delete;

    static const char* service_identifier() { return DSAInterface::service_identifier(); }
    kest::com::cpp_binding::Rport& port() noexcept { return m_port; }

  private:
    kest::com::cpp_binding::Rport m_port;

  public:
    kest::com::cpp_binding::Proxy_method<void, std::uint8_t> RequestRestart;
};

} // namespace vela::ap::statemanager::proxy
