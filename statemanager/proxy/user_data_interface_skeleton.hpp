#pragma once

#include "ara/com/internal/skeleton/skeleton.h"
#include "kest/com/cpp_binding/skeleton_method.h"
#include "statemanager/skeleton/udpnm_interfaces.hpp"
#include "vela/com/future.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kest::udpnm::interface::skeleton
{

/// Provider side of UserDataInterface, for the NM simulator and tests.
class UserDataInterfaceSkeleton : public ara::com::internal::skeleton::Skeleton<UserDataInterface>
{
  public:
    explicit UserDataInterfaceSkeleton(const std::string& instance,
                                       kest::com::cpp_binding::Method_call_processing_mode mode =
                                           kest::com::cpp_binding::Method_call_processing_mode::kEvent);
    ~UserDataInterfaceSkeleton() override;

    virtual vela::com::Future<std::vector<std::uint8_t>> GetUserData() = 0;
    virtual vela::com::Future<void> SetUserData(const std::vector<std::uint8_t>& data) = 0;

  private:
    kest::com::cpp_binding::Skeleton_method<std::vector<std::uint8_t>> m_get_user_data;
    kest::com::cpp_binding::Skeleton_method<void, std::vector<std::uint8_t>> m_set_user_data;

  public:
    kest::com::cpp_binding::Skeleton_event<std::vector<std::uint8_t>> UserDataChanged;
};

} // namespace kest::udpnm::interface::skeleton
