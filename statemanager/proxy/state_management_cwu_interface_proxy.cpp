#include "statemanager/proxy/state_management_cwu_interface_proxy.hpp"

namespace vela::ap::statemanager::proxy
{

StateManagementCWUInterfaceProxy::StateManagementCWUInterfaceProxy(const HandleType& handle)
    : m_port(handle, StateManagementCWUInterface::description())
    , ReleaseCarWakeUp(m_port, StateManagementCWUInterface::kReleaseCarWakeUp)
    , RequestCarWakeUp(m_port, StateManagementCWUInterface::kRequestCarWakeUp)
{
}

} // namespace vela::ap::statemanager::proxy
