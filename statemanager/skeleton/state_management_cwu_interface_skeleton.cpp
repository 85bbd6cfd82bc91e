#include "statemanager/skeleton/state_management_cwu_interface_skeleton.hpp"

namespace vela::ap::statemanager::skeleton
{

StateManagementCWUInterfaceSkeleton::StateManagementCWUInterfaceSkeleton(
    const std::string& instance, kest::com::cpp_binding::Method_call_processing_mode mode)
    : Skeleton<StateManagementCWUInterface>(instance, mode)
    , m_release_car_wake_up(
          StateManagementCWUInterface::kReleaseCarWakeUp, method_dispatcher(), [this]() { return ReleaseCarWakeUp(); })
    , m_request_car_wake_up(StateManagementCWUInterface::kRequestCarWakeUp,
                            method_dispatcher(),
                            [this](const std::uint8_t& a0) { return RequestCarWakeUp(a0); })
{
}

StateManagementCWUInterfaceSkeleton::~StateManagementCWUInterfaceSkeleton()
{
    StopOfferService();
}

} // namespace vela::ap::statemanager::skeleton
