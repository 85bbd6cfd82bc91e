#pragma once

#include "statemanager/smw/shared_memory_update_interface.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_shared_memory_update : public smw::Shared_memory_update_interface
{
  public:
    MOCK_METHOD(void, starting_up, (), (override));
    MOCK_METHOD(void, running, (), (override));
    MOCK_METHOD(void, shutting_down, (), (override));
    MOCK_METHOD(void, run_nm_controlled, (), (override));
    MOCK_METHOD(void, post_run, (), (override));
    MOCK_METHOD(void, preparing, (), (override));
    MOCK_METHOD(void, prepared_4_sd, (), (override));
    MOCK_METHOD(void, resuming, (), (override));
};

} // namespace vela::ap::statemanager::testing
