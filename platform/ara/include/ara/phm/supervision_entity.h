#pragma once

#include "ara/phm/phm_client.h"
#include "tarn1/service_manager/service_manager_interface.hpp"
#include "tarn1/service_manager/watchdog_pacer.hpp"

#include <atomic>
#include <cstdint>
#include <memory>

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

/// Stand-in: logs every checkpoint at verbose level (context "PHM") and never throws. Under a
/// service manager that watches the process (systemd's WatchdogSec=), the checkpoints also keep
/// its watchdog alive: WATCHDOG=1 at most once per quarter of the watchdog interval, so a daemon
/// whose loop stops reaching its checkpoint is restarted.
class SupervisionEntity final : public SupervisionEntityInterface
{
  public:
    /// Keeps alive the watchdog of the service manager that started this process, if any.
    explicit SupervisionEntity(const Phm_client_interface& client);
    /// Keeps alive the watchdog of the given service manager.
    SupervisionEntity(const Phm_client_interface& client,
                      std::shared_ptr<tarn1::service_manager::Service_manager_interface> service_manager);

    /// The thread that drives the entity's loop.
    void CheckpointReached(std::uint16_t supervisionEntityId, std::uint16_t checkpointId) override;

  private:
    const Phm_client_interface& m_client;
    std::shared_ptr<tarn1::service_manager::Service_manager_interface> m_service_manager;
    tarn1::service_manager::Watchdog_pacer m_watchdog;
    // True while keep-alives fail, so that a lasting failure is logged once.
    std::atomic<bool> m_watchdog_failing{false};
};

} // namespace ara::phm
