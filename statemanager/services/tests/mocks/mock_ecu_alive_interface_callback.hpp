#pragma once

#include "statemanager/services/ecu_alive_interface_callback.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_ecu_alive_interface_callback : public services::Ecu_alive_interface_callback
{
  public:
    MOCK_METHOD(void, ecu_alive_request, (const std::string& app_id), (override));
    MOCK_METHOD(void, ecu_alive_release, (const std::string& app_id), (override));
};

} // namespace vela::ap::statemanager::testing
