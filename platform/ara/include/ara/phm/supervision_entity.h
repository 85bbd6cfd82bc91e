#pragma once

#include "ara/phm/phm_client.h"

#include <cstdint>

namespace ara::phm
{

/// A supervised entity that reports alive checkpoints.
class SupervisionEntityInterface
{
public:
    virtual ~SupervisionEntityInterface() = default;
    /// Reports that the entity passed a checkpoint. May throw std::runtime_error on a real platform.
    virtual void CheckpointReached(std::uint16_t supervisionEntityId, std::uint16_t checkpointId) = 0;
};

/// Stand-in: logs every checkpoint at verbose level (context "PHM") and never throws.
class SupervisionEntity final : public SupervisionEntityInterface
{
public:
    explicit SupervisionEntity(const Phm_client_interface& client);

    void CheckpointReached(std::uint16_t supervisionEntityId, std::uint16_t checkpointId) override;

private:
    const Phm_client_interface& m_client;
};

} // namespace ara::phm
