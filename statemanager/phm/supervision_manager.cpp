#include "statemanager/phm/supervision_manager.hpp"

#include "ara/log/logging.h"

#include <stdexcept>
#include <utility>

namespace vela::ap::statemanager::phm
{

Supervision_manager::Supervision_manager(std::unique_ptr<ara::phm::SupervisionEntityInterface> entity)
    : m_entity(std::move(entity))
    , m_reporting_enabled(m_entity != nullptr)
{
}

void Supervision_manager::report_alive_status()
{
    if (!m_reporting_enabled)
    {
        return;
    }
    try
    {
        m_entity->CheckpointReached(s_supervision_entity_id, s_checkpoint_id);
    }
    catch (const std::runtime_error& error)
    {
        ara::log::LogError() << "AliveSupervision: caught " << error.what();
        ara::log::LogError() << "Stopping AliveSupervision reporting to PHM!";
        m_reporting_enabled = false;
    }
}

} // namespace vela::ap::statemanager::phm
