#include "statemanager/proxy/user_data_interface_skeleton.hpp"

namespace kest::udpnm::interface::skeleton
{

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
