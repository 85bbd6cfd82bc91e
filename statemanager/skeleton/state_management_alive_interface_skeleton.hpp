#pragma once

#include "ara/com/internal/skeleton/skeleton.h"
#include "kest/com/cpp_binding/skeleton_method.h"
#include "statemanager/skeleton/service_interfaces.hpp"
#include "vela/com/future.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vela::ap::statemanager::skeleton
{

/// Provider side of StateManagementAliveInterface: each call arrives on a middleware worker thread (never two of this
/// instance at once), is decoded and handed to the operation below; the reply goes out when the
/// returned future is satisfied. A request that cannot be decoded is answered with return code 0x80.
/// A derived class stops offering in its destructor before its own members go.
class StateManagementAliveInterfaceSkeleton
    : public ara::com::internal::skeleton::Skeleton<StateManagementAliveInterface>
{
  public:
    explicit StateManagementAliveInterfaceSkeleton(const std::string& instance,
                                                   kest::com::cpp_binding::Method_call_processing_mode mode =
                                                       kest::com::cpp_binding::Method_call_processing_mode::kEvent);
    ~StateManagementAliveInterfaceSkeleton() override;

    virtual vela::com::Future<void> ReleaseAlive() = 0;
    virtual vela::com::Future<void> RequestAlive() = 0;

  private:
    kest::com::cpp_binding::Skeleton_method<void> m_release_alive;
    kest::com::cpp_binding::Skeleton_method<void> m_request_alive;
};

} // namespace vela::ap::statemanager::skeleton
