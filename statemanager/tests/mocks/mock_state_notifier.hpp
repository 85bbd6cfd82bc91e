#pragma once

#include "statemanager/state_notifier/state_notifier_interface.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_state_notifier : public state_notifier::State_notifier_interface
{
  public:
    MOCK_METHOD(void, request_standby, (), (override));
    MOCK_METHOD(void, request_resume, (), (override));
    MOCK_METHOD(bool, check_request_status, (), (override));
};

} // namespace vela::ap::statemanager::testing
