#include "statemanager/skeleton/network_state_interface_proxy.hpp"

namespace kest::udpnm::interface::proxy
{

NetworkStateInterfaceProxy::NetworkStateInterfaceProxy(const HandleType& handle)
    : m_port(handle, NetworkStateInterface::description())
    , ReleaseNetwork(m_port, NetworkStateInterface::kReleaseNetwork)
    , RequestNetwork(m_port, NetworkStateInterface::kRequestNetwork)
    , NetworkState(m_port, NetworkStateInterface::kNetworkStateEvent, NetworkStateInterface::kNetworkStateGet)
{
}

NetworkStateInterfaceProxy::~NetworkStateInterfaceProxy()
{
    NetworkState.UnsetReceiveHandler();
}

} // namespace kest::udpnm::interface::proxy
