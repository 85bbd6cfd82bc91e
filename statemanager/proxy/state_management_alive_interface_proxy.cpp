#include "statemanager/proxy/state_management_alive_interface_proxy.hpp"

namespace vela::ap::statemanager::proxy
{

StateManagementAliveInterfaceProxy::StateManagementAliveInterfaceProxy(const HandleType& handle)
    : m_port(handle, StateManagementAliveInterface::description())
    , ReleaseAlive(m_port, StateManagementAliveInterface::kReleaseAlive)
    , RequestAlive(m_port, StateManagementAliveInterface::kRequestAlive)
{
}

} // namespace vela::ap::statemanager::proxy
