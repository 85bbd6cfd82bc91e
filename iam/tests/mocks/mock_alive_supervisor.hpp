#pragma once

#include "iam/alive_supervisor.hpp"

#include <gmock/gmock.h>

namespace vela::iam::testing
{

class Mock_alive_supervisor : public Alive_supervisor_interface
{
  public:
    MOCK_METHOD(void, alive_check, (), (override));
};

} // namespace vela::iam::testing
