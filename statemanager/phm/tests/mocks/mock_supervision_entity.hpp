#pragma once

#include "ara/phm/supervision_entity.h"

#include <gmock/gmock.h>

namespace vela::ap::statemanager::testing
{

class Mock_supervision_entity : public ara::phm::SupervisionEntityInterface
{
  public:
    MOCK_METHOD(void, CheckpointReached, (std::uint16_t supervisionEntityId, std::uint16_t checkpointId), (override));
};

} // namespace vela::ap::statemanager::testing
