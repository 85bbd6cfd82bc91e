#pragma once

#include "statemanager/service_handler/service_handler_interface.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_service_handler : public Service_handler_interface
{
  public:
    MOCK_METHOD(void, init, (), (override));
    MOCK_METHOD(void, deinit, (), (override));
    MOCK_METHOD(bool, nm_interface_available, (), (const, override));
    MOCK_METHOD(bool, apps_keep_com_alive, (), (const, override));
    MOCK_METHOD(bool, apps_keep_ecu_alive, (), (const, override));
    MOCK_METHOD(bool, is_network_in_use, (), (const, override));
    MOCK_METHOD(bool, ecu_in_sleep_mode, (), (const, override));
    MOCK_METHOD(void, request_network, (), (override));
    MOCK_METHOD(void, release_network, (), (override));
    MOCK_METHOD(void, standby, (), (override));
    MOCK_METHOD(void, end_standby, (), (override));
};

} // namespace vela::ap::statemanager::testing
