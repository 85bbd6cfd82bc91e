#pragma once

#include "statemanager/em/em_interface_abstract.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_em_interface : public Em_interface_abstract
{
  public:
    MOCK_METHOD(void, request_shutdown, (), (override));
    MOCK_METHOD(void, request_running, (), (override));
    MOCK_METHOD(bool, check_for_running_state, (), (override));
    MOCK_METHOD(ara::exec::StateReturnType,
                StateClient_SetState,
                (const std::string& function_group, const std::string& state),
                (override));
    MOCK_METHOD(ara::exec::StateReturnType,
                GetState,
                (const std::string& function_group,
                 std::string& state,
                 ara::exec::Function_group_state_transition& transition),
                (override));
};

} // namespace vela::ap::statemanager::testing
