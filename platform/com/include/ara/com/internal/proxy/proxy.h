#pragma once

#include "kest/com/cpp_binding/rport.h"
#include "kest/com/cpp_binding/service_handle.h"

namespace ara::com::internal::proxy
{

/// Base of the generated proxies: the required port of the one instance a handle names. Interface
/// supplies `static const char* service_identifier()` and
/// `static kest::com::connector::Service_interface_description description()`. The port is built
/// before a derived proxy's methods and events and outlives them.
template <typename Interface> class Proxy
{
  public:
    using HandleType = kest::com::cpp_binding::Service_handle;

    Proxy(const Proxy&) = delete;
    Proxy& operator=(const Proxy&) = delete;

    static const char* service_identifier() { return Interface::service_identifier(); }
    kest::com::cpp_binding::Rport& port() noexcept { return m_port; }

  protected:
    explicit Proxy(const HandleType& handle)
        : m_port(handle, Interface::description())
    {
    }
    ~Proxy() = default;

  private:
    kest::com::cpp_binding::Rport m_port;
};

} // namespace ara::com::internal::proxy
