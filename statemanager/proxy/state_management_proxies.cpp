#include "statemanager/proxy/state_management_proxies.hpp"

namespace vela::ap::statemanager::proxy
{

StateManagementAliveInterfaceProxy::StateManagementAliveInterfaceProxy(const HandleType& handle)
    : Proxy<StateManagementAliveInterface>(handle)
    , ReleaseAlive(port(), StateManagementAliveInterface::kReleaseAlive)
    , RequestAlive(port(), StateManagementAliveInterface::kRequestAlive)
{
}

StateManagementComAliveInterfaceProxy::StateManagementComAliveInterfaceProxy(const HandleType& handle)
    : Proxy<StateManagementComAliveInterface>(handle)
    , ReleaseComAlive(port(), StateManagementComAliveInterface::kReleaseComAlive)
    , RequestComAlive(port(), StateManagementComAliveInterface::kRequestComAlive)
{
}

StateManagementCWUInterfaceProxy::StateManagementCWUInterfaceProxy(const HandleType& handle)
    : Proxy<StateManagementCWUInterface>(handle)
    , ReleaseCarWakeUp(port(), StateManagementCWUInterface::kReleaseCarWakeUp)
    , RequestCarWakeUp(port(), StateManagementCWUInterface::kRequestCarWakeUp)
{
}

DSAInterfaceProxy::DSAInterfaceProxy(const HandleType& handle)
    : Proxy<DSAInterface>(handle)
    , RequestRestart(port(), DSAInterface::kRequestRestart)
{
}

StateManagementStatusInterfaceProxy::StateManagementStatusInterfaceProxy(const HandleType& handle)
    : Proxy<StateManagementStatusInterface>(handle)
    , GetHolders(port(), StateManagementStatusInterface::kGetHolders)
    , GetHistory(port(), StateManagementStatusInterface::kGetHistory)
    , State(port(), StateManagementStatusInterface::kStateEvent, StateManagementStatusInterface::kStateGet)
    , TransitionReport(port(), StateManagementStatusInterface::kTransitionReportEvent)
{
}

StateManagementStatusInterfaceProxy::~StateManagementStatusInterfaceProxy()
{
    TransitionReport.UnsetReceiveHandler();
    State.UnsetReceiveHandler();
}

} // namespace vela::ap::statemanager::proxy
