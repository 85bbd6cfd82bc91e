#pragma once

#include "tarn1/service_manager/service_manager_interface.hpp"

#include <chrono>
#include <gmock/gmock.h>

namespace tarn1::service_manager::testing
{

class Mock_service_manager : public Service_manager_interface
{
  public:
    MOCK_METHOD(bool, is_present, (), (const, noexcept, override));
    MOCK_METHOD(int, notify, (const char* assignments), (noexcept, override));
    MOCK_METHOD(std::chrono::microseconds, watchdog_interval, (), (const, noexcept, override));
};

} // namespace tarn1::service_manager::testing
