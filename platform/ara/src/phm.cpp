#include "ara/log/logging.h"
#include "ara/phm/phm_client.h"
#include "ara/phm/supervision_entity.h"

#include <utility>

namespace ara::phm
{
namespace
{
ara::log::Logger& phm_logger() { return ara::log::CreateLogger("PHM", "health management stand-in"); }
} // namespace

Phm_client::Phm_client(std::string instanceSpecifier)
    : m_instance_specifier(std::move(instanceSpecifier))
{
    phm_logger().LogInfo() << "Phm_client(" << m_instance_specifier << ")";
}

SupervisionEntity::SupervisionEntity(const Phm_client_interface& client)
    : m_client(client)
{
}

void SupervisionEntity::CheckpointReached(std::uint16_t supervisionEntityId, std::uint16_t checkpointId)
{
    phm_logger().LogVerbose() << "CheckpointReached(" << m_client.get_instance_specifier() << ", "
                              << supervisionEntityId << ", " << checkpointId << ")";
}

} // namespace ara::phm
