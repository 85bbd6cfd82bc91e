#include "statemanager/skeleton/user_data_interface_proxy.hpp"

namespace kest::udpnm::interface::proxy
{

UserDataInterfaceProxy::UserDataInterfaceProxy(const HandleType& handle)
    : m_port(handle, UserDataInterface::description())
    , GetUserData(m_port, UserDataInterface::kGetUserData)
    , SetUserData(m_port, UserDataInterface::kSetUserData)
    , UserDataChanged(m_port, UserDataInterface::kUserDataChangedEvent)
{
}

UserDataInterfaceProxy::~UserDataInterfaceProxy()
{
    UserDataChanged.UnsetReceiveHandler();
}

} // namespace kest::udpnm::interface::proxy
