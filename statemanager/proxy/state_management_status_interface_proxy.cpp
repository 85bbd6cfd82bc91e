#include "statemanager/proxy/state_management_status_interface_proxy.hpp"

namespace vela::ap::statemanager::proxy
{

StateManagementStatusInterfaceProxy::StateManagementStatusInterfaceProxy(const HandleType& handle)
    : m_port(handle, StateManagementStatusInterface::description())
    , GetHolders(m_port, StateManagementStatusInterface::kGetHolders)
    , GetHistory(m_port, StateManagementStatusInterface::kGetHistory)
    , State(m_port, StateManagementStatusInterface::kStateEvent, StateManagementStatusInterface::kStateGet)
    , TransitionReport(m_port, StateManagementStatusInterface::kTransitionReportEvent)
{
}

StateManagementStatusInterfaceProxy::~StateManagementStatusInterfaceProxy()
{
    TransitionReport.UnsetReceiveHandler();
    State.UnsetReceiveHandler();
}

} // namespace vela::ap::statemanager::proxy
