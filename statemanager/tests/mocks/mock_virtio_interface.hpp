#pragma once

#include "statemanager/virtio/virtio_interface_abstract.hpp"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_virtio_interface : public virtio::Virtio_interface_abstract
{
  public:
    MOCK_METHOD(bool, init, (std::string directory), (override));
    MOCK_METHOD(virtio::Virtio_command, get_command, (unsigned int timeout_ms), (override));
    MOCK_METHOD(void, command_consumed, (), (override));
};

} // namespace vela::ap::statemanager::testing
