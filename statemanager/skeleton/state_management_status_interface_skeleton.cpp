#include "statemanager/skeleton/state_management_status_interface_skeleton.hpp"

namespace vela::ap::statemanager::skeleton
{

StateManagementStatusInterfaceSkeleton::StateManagementStatusInterfaceSkeleton(
    const std::string& instance, kest::com::cpp_binding::Method_call_processing_mode mode)
    : Skeleton<StateManagementStatusInterface>(instance, mode)
    , m_get_holders(StateManagementStatusInterface::kGetHolders, method_dispatcher(), [this] { return GetHolders(); })
    , m_get_history(StateManagementStatusInterface::kGetHistory, method_dispatcher(), [this] { return GetHistory(); })
    , State(field_handler(), StateManagementStatusInterface::kStateEvent, StateManagementStatusInterface::kStateGet)
    , TransitionReport(pport(), StateManagementStatusInterface::kTransitionReportEvent)
{
}

StateManagementStatusInterfaceSkeleton::~StateManagementStatusInterfaceSkeleton()
{
    StopOfferService();
}

} // namespace vela::ap::statemanager::skeleton
