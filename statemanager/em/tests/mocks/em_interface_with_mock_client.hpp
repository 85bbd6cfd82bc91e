#pragma once

#include "statemanager/em/em_interface.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

/// The real Em_interface with its two platform forwarding operations replaced, so tests decide
/// what execution management answers or throws.
class Em_interface_with_mock_client : public Em_interface
{
  public:
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
