#include "statemanager/skeleton/dsa_interface_skeleton.hpp"

namespace vela::ap::statemanager::skeleton
{

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

} // namespace vela::ap::statemanager::skeleton
