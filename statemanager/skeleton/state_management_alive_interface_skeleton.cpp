#include "statemanager/skeleton/state_management_alive_interface_skeleton.hpp"

namespace vela::ap::statemanager::skeleton
{

StateManagementAliveInterfaceSkeleton::StateManagementAliveInterfaceSkeleton(
    const std::string& instance, kest::com::cpp_binding::Method_call_processing_mode mode)
    : Skeleton<StateManagementAliveInterface>(instance, mode)
    , m_release_alive(
          StateManagementAliveInterface::kReleaseAlive, method_dispatcher(), [this]() { return ReleaseAlive(); })
    , m_request_alive(
          StateManagementAliveInterface::kRequestAlive, method_dispatcher(), [this]() { return RequestAlive(); })
{
}

StateManagementAliveInterfaceSkeleton::~StateManagementAliveInterfaceSkeleton()
{
    StopOfferService();
}

} // namespace vela::ap::statemanager::skeleton
