#pragma once

#include "statemanager/skeleton/state_management_skeletons.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_alive_skeleton : public skeleton::StateManagementAliveInterfaceSkeleton
{
  public:
    using StateManagementAliveInterfaceSkeleton::StateManagementAliveInterfaceSkeleton;
    ~Mock_alive_skeleton() override { StopOfferService(); }
    MOCK_METHOD(vela::com::Future<void>, ReleaseAlive, (), (override));
    MOCK_METHOD(vela::com::Future<void>, RequestAlive, (), (override));
};

class Mock_com_alive_skeleton : public skeleton::StateManagementComAliveInterfaceSkeleton
{
  public:
    using StateManagementComAliveInterfaceSkeleton::StateManagementComAliveInterfaceSkeleton;
    ~Mock_com_alive_skeleton() override { StopOfferService(); }
    MOCK_METHOD(vela::com::Future<void>, ReleaseComAlive, (const std::vector<std::uint8_t>&), (override));
    MOCK_METHOD(vela::com::Future<void>, RequestComAlive, (const std::vector<std::uint8_t>&, std::uint8_t), (override));
};

class Mock_cwu_skeleton : public skeleton::StateManagementCWUInterfaceSkeleton
{
  public:
    using StateManagementCWUInterfaceSkeleton::StateManagementCWUInterfaceSkeleton;
    ~Mock_cwu_skeleton() override { StopOfferService(); }
    MOCK_METHOD(vela::com::Future<void>, ReleaseCarWakeUp, (), (override));
    MOCK_METHOD(vela::com::Future<void>, RequestCarWakeUp, (std::uint8_t), (override));
};

class Mock_dsa_skeleton : public skeleton::DSAInterfaceSkeleton
{
  public:
    using DSAInterfaceSkeleton::DSAInterfaceSkeleton;
    ~Mock_dsa_skeleton() override { StopOfferService(); }
    MOCK_METHOD(vela::com::Future<void>, RequestRestart, (std::uint8_t), (override));
};

} // namespace vela::ap::statemanager::testing
