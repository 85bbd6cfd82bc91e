#pragma once

#include "ara/com/internal/skeleton/skeleton.h"
#include "kest/com/cpp_binding/skeleton_method.h"
#include "statemanager/skeleton/udpnm_interfaces.hpp"
#include "vela/com/future.h"

#include <cstdint>
#include <string>
#include <vector>

// The provider sides of the two UDP NM services Statewarden uses, for the NM simulator and tests.

namespace kest::udpnm::interface::skeleton
{

/// Provider side of NetworkStateInterface, for the NM simulator and tests. Give NetworkState a value
/// (NetworkState.Update) before offering; subscribers get the current value first, then each update.
class NetworkStateInterfaceSkeleton : public ara::com::internal::skeleton::Skeleton<NetworkStateInterface>
{
  public:
    explicit NetworkStateInterfaceSkeleton(const std::string& instance,
                                           kest::com::cpp_binding::Method_call_processing_mode mode =
                                               kest::com::cpp_binding::Method_call_processing_mode::kEvent);
    ~NetworkStateInterfaceSkeleton() override;

    virtual vela::com::Future<void> ReleaseNetwork(const std::vector<std::uint8_t>& pattern) = 0;
    virtual vela::com::Future<void> RequestNetwork(const std::vector<std::uint8_t>& pattern) = 0;

  private:
    kest::com::cpp_binding::Skeleton_method<void, std::vector<std::uint8_t>> m_release_network;
    kest::com::cpp_binding::Skeleton_method<void, std::vector<std::uint8_t>> m_request_network;

  public:
    kest::com::cpp_binding::Skeleton_field<std::vector<std::uint8_t>> NetworkState;
};

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
