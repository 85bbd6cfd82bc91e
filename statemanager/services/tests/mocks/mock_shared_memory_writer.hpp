#pragma once

#include "statemanager/smw/shared_memory_writer_interface.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_shared_memory_writer : public smw::Shared_memory_writer_interface
{
public:
    MOCK_METHOD(bool, write_to_memory, (std::string data), (override));
};

} // namespace vela::ap::statemanager::testing
