#pragma once

#include "kest/com/cpp_binding/proxy_event.h"
#include "kest/com/cpp_binding/proxy_method.h"
#include "kest/com/cpp_binding/rport.h"
#include "kest/com/cpp_binding/service_handle.h"
#include "statemanager/skeleton/udpnm_interfaces.hpp"

#include <cstdint>
#include <vector>

namespace kest::udpnm::interface::proxy
{

/// Consumer side of NetworkStateInterface, built from a handle the service finder delivered.
/// Methods return a future of the completion; the NetworkState field notification arrives through
/// its receive handler on a middleware worker thread, never concurrently with itself.
class NetworkStateInterfaceProxy
{
  public:
    using HandleType = kest::com::cpp_binding::Service_handle;

    explicit NetworkStateInterfaceProxy(const HandleType& handle);
    /// Unsets the receive handler (waiting for a running one) before the port goes.
    ~NetworkStateInterfaceProxy();

    NetworkStateInterfaceProxy(const NetworkStateInterfaceProxy&) = delete;
    NetworkStateInterfaceProxy& operator=(const NetworkStateInterfaceProxy&) = delete;

    static const char* service_identifier() { return NetworkStateInterface::service_identifier(); }
    kest::com::cpp_binding::Rport& port() noexcept { return m_port; }

  private:
    kest::com::cpp_binding::Rport m_port;

  public:
    kest::com::cpp_binding::Proxy_method<void, std::vector<std::uint8_t>> ReleaseNetwork;
    kest::com::cpp_binding::Proxy_method<void, std::vector<std::uint8_t>> RequestNetwork;
    kest::com::cpp_binding::Proxy_field<std::vector<std::uint8_t>> NetworkState;
};

} // namespace kest::udpnm::interface::proxy
