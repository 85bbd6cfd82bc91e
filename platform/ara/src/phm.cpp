#include "ara/log/logging.h"
#include "ara/phm/phm_client.h"
#include "ara/phm/supervision_entity.h"
#include "tarn1/service_manager/systemd_service_manager.hpp"

#include <chrono>
#include <utility>

namespace ara::phm
{
namespace
{
ara::log::Logger& phm_logger()
{
    return ara::log::CreateLogger("PHM", "health management stand-in");
}
} // namespace

Phm_client::Phm_client(std::string instanceSpecifier)
    : m_instance_specifier(std::move(instanceSpecifier))
{
    phm_logger().LogInfo() << "Phm_client(" << m_instance_specifier << ")";
}

SupervisionEntity::SupervisionEntity(const Phm_client_interface& client)
    : SupervisionEntity(client, std::make_shared<tarn1::service_manager::Systemd_service_manager>())
{
}

SupervisionEntity::SupervisionEntity(const Phm_client_interface& client,
                                     std::shared_ptr<tarn1::service_manager::Service_manager_interface> service_manager)
    : m_client(client)
    , m_service_manager(std::move(service_manager))
    , m_watchdog(*m_service_manager)
{
}

void SupervisionEntity::CheckpointReached(std::uint16_t supervisionEntityId, std::uint16_t checkpointId)
{
    phm_logger().LogVerbose() << "CheckpointReached(" << m_client.get_instance_specifier() << ", "
                              << supervisionEntityId << ", " << checkpointId << ")";
    if (!m_watchdog.is_watched())
    {
        return;
    }
    switch (m_watchdog.kick(std::chrono::steady_clock::now()))
    {
    case tarn1::service_manager::Watchdog_pacer::Kick::sent:
        m_watchdog_failing.store(false, std::memory_order_relaxed);
        break;
    case tarn1::service_manager::Watchdog_pacer::Kick::failed:
        if (!m_watchdog_failing.exchange(true, std::memory_order_relaxed))
        {
            phm_logger().LogWarn() << "CheckpointReached: service manager watchdog not notified";
        }
        break;
    case tarn1::service_manager::Watchdog_pacer::Kick::not_due:
        break;
    }
}

} // namespace ara::phm
