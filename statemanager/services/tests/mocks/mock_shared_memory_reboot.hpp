#pragma once

#include "statemanager/smw/shared_memory_reboot_interface.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_shared_memory_reboot : public smw::Shared_memory_reboot_interface
{
  public:
    MOCK_METHOD(void, restart_vm, (), (override));
    MOCK_METHOD(void, restart_m3, (), (override));
};

} // namespace vela::ap::statemanager::testing
