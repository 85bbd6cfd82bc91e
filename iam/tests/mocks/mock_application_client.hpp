#pragma once

#include "iam/application_state.hpp"

#include <gmock/gmock.h>

namespace vela::iam::testing
{

class Mock_application_client : public Application_client_abstract
{
  public:
    MOCK_METHOD(ara::exec::ApplicationReturnType,
                ReportApplicationState,
                (ara::exec::ApplicationState state),
                (override));
};

} // namespace vela::iam::testing
