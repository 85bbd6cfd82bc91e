#pragma once

#include "ara/com/internal/proxy/proxy.h"
#include "kest/com/cpp_binding/proxy_event.h"
#include "kest/com/cpp_binding/proxy_method.h"
#include "statemanager/skeleton/udpnm_interfaces.hpp"

#include <cstdint>
#include <vector>

// The consumer sides of the two UDP NM services Statewarden uses.

namespace kest::udpnm::interface::proxy
{

/// Consumer side of NetworkStateInterface, built from a handle the service finder delivered.
/// Methods return a future of the completion; the NetworkState field notification arrives through
/// its receive handler on a middleware worker thread, never concurrently with itself.
class NetworkStateInterfaceProxy : public ara::com::internal::proxy::Proxy<NetworkStateInterface>
{
  public:
    explicit NetworkStateInterfaceProxy(const HandleType& handle);
    /// Unsets the receive handler (waiting for a running one) before the port goes.
    ~NetworkStateInterfaceProxy();

    kest::com::cpp_binding::Proxy_method<void, std::vector<std::uint8_t>> ReleaseNetwork;
    kest::com::cpp_binding::Proxy_method<void, std::vector<std::uint8_t>> RequestNetwork;
    kest::com::cpp_binding::Proxy_field<std::vector<std::uint8_t>> NetworkState;
};

/// Consumer side of UserDataInterface, built from a handle the service finder delivered.
class UserDataInterfaceProxy : public ara::com::internal::proxy::Proxy<UserDataInterface>
{
  public:
    explicit UserDataInterfaceProxy(const HandleType& handle);
    ~UserDataInterfaceProxy();

    kest::com::cpp_binding::Proxy_method<std::vector<std::uint8_t>> GetUserData;
    kest::com::cpp_binding::Proxy_method<void, std::vector<std::uint8_t>> SetUserData;
    kest::com::cpp_binding::Proxy_event<std::vector<std::uint8_t>> UserDataChanged;
};

} // namespace kest::udpnm::interface::proxy
