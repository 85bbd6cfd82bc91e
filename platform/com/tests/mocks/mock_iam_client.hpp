#pragma once

#include "platform/com/src/iam_client.hpp"

#include <gmock/gmock.h>

namespace tarn1::testing
{

class Mock_iam_client : public kest::com::internal::Iam_client_interface
{
  public:
    MOCK_METHOD(void,
                check,
                (const vela::iam::Check_request_posix& request,
                 kest::com::internal::Clock::time_point deadline,
                 Done done),
                (override));
    MOCK_METHOD(std::optional<vela::iam::Decision>,
                check_now,
                (const vela::iam::Check_request_posix& request, std::chrono::milliseconds timeout),
                (override));
    MOCK_METHOD(void, stop, (), (override));
};

} // namespace tarn1::testing
