#include "statemanager/proxy/dsa_interface_proxy.hpp"

namespace vela::ap::statemanager::proxy
{

DSAInterfaceProxy::DSAInterfaceProxy(const HandleType& handle)
    : m_port(handle, DSAInterface::description())
    , RequestRestart(m_port, DSAInterface::kRequestRestart)
{
}

} // namespace vela::ap::statemanager::proxy
