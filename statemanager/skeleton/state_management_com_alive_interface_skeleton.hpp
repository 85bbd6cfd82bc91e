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

/// Provider side of StateManagementComAliveInterface: each call arrives on a middleware worker thread (never two of
/// this instance at once), is decoded and handed to the operation below; the reply goes out when the returned future is
/// satisfied. A request that cannot be decoded is answered with return code 0x80. A derived class stops offering in its
/// destructor before its own members go.
class StateManagementComAliveInterfaceSkeleton
    : public ara::com::internal::skeleton::Skeleton<StateManagementComAliveInterface>
{
  public:
    explicit StateManagementComAliveInterfaceSkeleton(const std::string& instance,
                                                      kest::com::cpp_binding::Method_call_processing_mode mode =
                                                          kest::com::cpp_binding::Method_call_processing_mode::kEvent);
    ~StateManagementComAliveInterfaceSkeleton() override;

    virtual vela::com::Future<void> ReleaseComAlive(const std::vector<std::uint8_t>& cab_bits) = 0;
    virtual vela::com::Future<void> RequestComAlive(const std::vector<std::uint8_t>& cab_bits,
                                                    std::uint8_t ac_value) = 0;

  private:
    kest::com::cpp_binding::Skeleton_method<void, std::vector<std::uint8_t>> m_release_com_alive;
    kest::com::cpp_binding::Skeleton_method<void, std::vector<std::uint8_t>, std::uint8_t> m_request_com_alive;
};

} // namespace vela::ap::statemanager::skeleton
