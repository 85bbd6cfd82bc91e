#pragma once

#include "ara/com/internal/skeleton/skeleton.h"
#include "kest/com/cpp_binding/skeleton_method.h"
#include "statemanager/skeleton/state_management_status_interface.hpp"
#include "vela/com/future.h"

#include <string>
#include <vector>

namespace vela::ap::statemanager::skeleton
{

/// Provider side of StateManagementStatusInterface: each call arrives on a middleware worker thread
/// (never two of this instance at once) and is answered when the returned future is satisfied.
/// Give State a value (State.Update) before offering; subscribers of State get the current value
/// first, those of TransitionReport each report sent from then on. A derived class stops offering
/// in its destructor before its own members go.
class StateManagementStatusInterfaceSkeleton
    : public ara::com::internal::skeleton::Skeleton<StateManagementStatusInterface>
{
  public:
    explicit StateManagementStatusInterfaceSkeleton(const std::string& instance,
                                                    kest::com::cpp_binding::Method_call_processing_mode mode =
                                                        kest::com::cpp_binding::Method_call_processing_mode::kEvent);
    ~StateManagementStatusInterfaceSkeleton() override;

    virtual vela::com::Future<status::Holders_reply> GetHolders() = 0;
    virtual vela::com::Future<std::vector<status::Transition_report>> GetHistory() = 0;

  private:
    kest::com::cpp_binding::Skeleton_method<status::Holders_reply> m_get_holders;
    kest::com::cpp_binding::Skeleton_method<std::vector<status::Transition_report>> m_get_history;

  public:
    kest::com::cpp_binding::Skeleton_field<status::State_value> State;
    kest::com::cpp_binding::Skeleton_event<status::Transition_report> TransitionReport;
};

} // namespace vela::ap::statemanager::skeleton
