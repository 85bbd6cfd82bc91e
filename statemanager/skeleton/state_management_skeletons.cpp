#include "statemanager/skeleton/state_management_skeletons.hpp"

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

DSAInterfaceSkeleton::DSAInterfaceSkeleton(const std::string& instance,
                                           kest::com::cpp_binding::Method_call_processing_mode mode)
    : Skeleton<DSAInterface>(instance, mode)
    , m_request_restart(DSAInterface::kRequestRestart,
                        method_dispatcher(),
                        [this](const std::uint8_t& a0) { return RequestRestart(a0); })
{
}

DSAInterfaceSkeleton::~DSAInterfaceSkeleton()
{
    StopOfferService();
}

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
