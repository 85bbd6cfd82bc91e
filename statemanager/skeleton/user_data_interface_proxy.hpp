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

/// Consumer side of UserDataInterface, built from a handle the service finder delivered.
class UserDataInterfaceProxy
{
  public:
    using HandleType = kest::com::cpp_binding::Service_handle;

    explicit UserDataInterfaceProxy(const HandleType& handle);
    ~UserDataInterfaceProxy();

    UserDataInterfaceProxy(const UserDataInterfaceProxy&) = delete;
    UserDataInterfaceProxy& operator=(const UserDataInterfaceProxy&) = delete;

    static const char* service_identifier() { return UserDataInterface::service_identifier(); }
    kest::com::cpp_binding::Rport& port() noexcept { return m_port; }

  private:
    kest::com::cpp_binding::Rport m_port;

  public:
    kest::com::cpp_binding::Proxy_method<std::vector<std::uint8_t>> GetUserData;
    kest::com::cpp_binding::Proxy_method<void, std::vector<std::uint8_t>> SetUserData;
    kest::com::cpp_binding::Proxy_event<std::vector<std::uint8_t>> UserDataChanged;
};

} // namespace kest::udpnm::interface::proxy
