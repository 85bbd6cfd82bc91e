#include "statemanager/proxy/state_management_com_alive_interface_proxy.hpp"

namespace vela::ap::statemanager::proxy
{

StateManagementComAliveInterfaceProxy::StateManagementComAliveInterfaceProxy(const HandleType& handle)
    : m_port(handle, StateManagementComAliveInterface::description())
    , ReleaseComAlive(m_port, StateManagementComAliveInterface::kReleaseComAlive)
    , RequestComAlive(m_port, StateManagementComAliveInterface::kRequestComAlive)
{
}

} // namespace vela::ap::statemanager::proxy
