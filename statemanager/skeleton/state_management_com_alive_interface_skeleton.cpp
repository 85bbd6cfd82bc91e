#include "statemanager/skeleton/state_management_com_alive_interface_skeleton.hpp"

namespace vela::ap::statemanager::skeleton
{

StateManagementComAliveInterfaceSkeleton::StateManagementComAliveInterfaceSkeleton(
    const std::string& instance, kest::com::cpp_binding::Method_call_processing_mode mode)
    : Skeleton<StateManagementComAliveInterface>(instance, mode)
    , m_release_com_alive(StateManagementComAliveInterface::kReleaseComAlive,
                          method_dispatcher(),
                          [this](const std::vector<std::uint8_t>& a0) { return ReleaseComAlive(a0); })
    , m_request_com_alive(StateManagementComAliveInterface::kRequestComAlive,
                          method_dispatcher(),
                          [this](const std::vector<std::uint8_t>& a0, const std::uint8_t& a1)
                          { return RequestComAlive(a0, a1); })
{
}

StateManagementComAliveInterfaceSkeleton::~StateManagementComAliveInterfaceSkeleton()
{
    StopOfferService();
}

} // namespace vela::ap::statemanager::skeleton
