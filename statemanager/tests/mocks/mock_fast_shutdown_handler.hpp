#pragma once

#include "statemanager/fast_shutdown/fast_shutdown_handler_interface.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_fast_shutdown_handler : public fast_shutdown::Fast_shutdown_handler_interface
{
  public:
    MOCK_METHOD(void, process_lookup, (), (const, override));
    MOCK_METHOD(void, start_fast_shutdown, (std::chrono::milliseconds timeout), (const, override));
    MOCK_METHOD(bool, is_possible, (), (const, override));
};

} // namespace vela::ap::statemanager::testing
