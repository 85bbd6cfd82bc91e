#include "statemanager/skeleton/nm_proxies.hpp"

namespace kest::udpnm::interface::proxy
{

NetworkStateInterfaceProxy::NetworkStateInterfaceProxy(const HandleType& handle)
    : Proxy<NetworkStateInterface>(handle)
    , ReleaseNetwork(port(), NetworkStateInterface::kReleaseNetwork)
    , RequestNetwork(port(), NetworkStateInterface::kRequestNetwork)
    , NetworkState(port(), NetworkStateInterface::kNetworkStateEvent, NetworkStateInterface::kNetworkStateGet)
{
}

NetworkStateInterfaceProxy::~NetworkStateInterfaceProxy()
{
    NetworkState.UnsetReceiveHandler();
}

UserDataInterfaceProxy::UserDataInterfaceProxy(const HandleType& handle)
    : Proxy<UserDataInterface>(handle)
    , GetUserData(port(), UserDataInterface::kGetUserData)
    , SetUserData(port(), UserDataInterface::kSetUserData)
    , UserDataChanged(port(), UserDataInterface::kUserDataChangedEvent)
{
}

UserDataInterfaceProxy::~UserDataInterfaceProxy()
{
    UserDataChanged.UnsetReceiveHandler();
}

} // namespace kest::udpnm::interface::proxy
