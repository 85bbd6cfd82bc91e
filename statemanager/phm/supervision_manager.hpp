#pragma once

#include "ara/phm/supervision_entity.h"
#include "statemanager/phm/supervision_manager_interface.hpp"

#include <cstdint>
#include <memory>

namespace vela::ap::statemanager::phm
{

/// Reports checkpoint 1 of supervision entity 1 once per loop cycle. The first runtime error of
/// the health-management client stops the reporting for good, so a broken connection cannot
/// disturb the state machine. Main thread only.
class Supervision_manager final : public Supervision_manager_interface
{
  public:
    static constexpr std::uint16_t s_supervision_entity_id = 1;
    static constexpr std::uint16_t s_checkpoint_id = 1;

    /// Takes ownership of the entity; reporting starts enabled.
    explicit Supervision_manager(std::unique_ptr<ara::phm::SupervisionEntityInterface> entity);

    void report_alive_status() override;

  private:
    std::unique_ptr<ara::phm::SupervisionEntityInterface> m_entity;
    bool m_reporting_enabled{true};
};

} // namespace vela::ap::statemanager::phm
