#pragma once

#include "ara/com/internal/skeleton/skeleton.h"
#include "kest/com/cpp_binding/skeleton_method.h"
#include "statemanager/skeleton/service_interfaces.hpp"
#include "statemanager/skeleton/state_management_status_interface.hpp"
#include "vela/com/future.h"

#include <cstdint>
#include <string>
#include <vector>

// The provider sides of the five services Statewarden offers; statemanager/services/ derives the
// daemon's implementations from them.

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

/// Provider side of StateManagementCWUInterface: each call arrives on a middleware worker thread (never two of this
/// instance at once), is decoded and handed to the operation below; the reply goes out when the
/// returned future is satisfied. A request that cannot be decoded is answered with return code 0x80.
/// A derived class stops offering in its destructor before its own members go.
class StateManagementCWUInterfaceSkeleton : public ara::com::internal::skeleton::Skeleton<StateManagementCWUInterface>
{
  public:
    explicit StateManagementCWUInterfaceSkeleton(const std::string& instance,
                                                 kest::com::cpp_binding::Method_call_processing_mode mode =
                                                     kest::com::cpp_binding::Method_call_processing_mode::kEvent);
    ~StateManagementCWUInterfaceSkeleton() override;

    virtual vela::com::Future<void> ReleaseCarWakeUp() = 0;
    virtual vela::com::Future<void> RequestCarWakeUp(std::uint8_t ac_value) = 0;

  private:
    kest::com::cpp_binding::Skeleton_method<void> m_release_car_wake_up;
    kest::com::cpp_binding::Skeleton_method<void, std::uint8_t> m_request_car_wake_up;
};

/// Provider side of DSAInterface: each call arrives on a middleware worker thread (never two of this
/// instance at once), is decoded and handed to the operation below; the reply goes out when the
/// returned future is satisfied. A request that cannot be decoded is answered with return code 0x80.
/// A derived class stops offering in its destructor before its own members go.
class DSAInterfaceSkeleton : public ara::com::internal::skeleton::Skeleton<DSAInterface>
{
  public:
    explicit DSAInterfaceSkeleton(const std::string& instance,
                                  kest::com::cpp_binding::Method_call_processing_mode mode =
                                      kest::com::cpp_binding::Method_call_processing_mode::kEvent);
    ~DSAInterfaceSkeleton() override;

    virtual vela::com::Future<void> RequestRestart(std::uint8_t restart_type) = 0;

  private:
    kest::com::cpp_binding::Skeleton_method<void, std::uint8_t> m_request_restart;
};

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
