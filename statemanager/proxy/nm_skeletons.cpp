#include "statemanager/proxy/nm_skeletons.hpp"

namespace kest::udpnm::interface::skeleton
{

NetworkStateInterfaceSkeleton::NetworkStateInterfaceSkeleton(const std::string& instance,
                                                             kest::com::cpp_binding::Method_call_processing_mode mode)
    : Skeleton<NetworkStateInterface>(instance, mode)
    , m_release_network(NetworkStateInterface::kReleaseNetwork,
                        method_dispatcher(),
                        [this](const std::vector<std::uint8_t>& pattern) { return ReleaseNetwork(pattern); })
    , m_request_network(NetworkStateInterface::kRequestNetwork,
                        method_dispatcher(),
                        [this](const std::vector<std::uint8_t>& pattern) { return RequestNetwork(pattern); })
    , NetworkState(field_handler(), NetworkStateInterface::kNetworkStateEvent, NetworkStateInterface::kNetworkStateGet)
{
}

NetworkStateInterfaceSkeleton::~NetworkStateInterfaceSkeleton()
{
    StopOfferService();
}

UserDataInterfaceSkeleton::UserDataInterfaceSkeleton(const std::string& instance,
                                                     kest::com::cpp_binding::Method_call_processing_mode mode)
    : Skeleton<UserDataInterface>(instance, mode)
    , m_get_user_data(UserDataInterface::kGetUserData, method_dispatcher(), [this] { return GetUserData(); })
    , m_set_user_data(UserDataInterface::kSetUserData,
                      method_dispatcher(),
                      [this](const std::vector<std::uint8_t>& data) { return SetUserData(data); })
    , UserDataChanged(pport(), UserDataInterface::kUserDataChangedEvent)
{
}

UserDataInterfaceSkeleton::~UserDataInterfaceSkeleton()
{
    StopOfferService();
}

} // namespace kest::udpnm::interface::skeleton
