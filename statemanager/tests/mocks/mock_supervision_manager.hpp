#pragma once

#include "statemanager/phm/supervision_manager_interface.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_supervision_manager : public phm::Supervision_manager_interface
{
  public:
    MOCK_METHOD(void, report_alive_status, (), (override));
};

} // namespace vela::ap::statemanager::testing
