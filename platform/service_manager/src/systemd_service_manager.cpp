#include "tarn1/service_manager/systemd_service_manager.hpp"

#include <cstdint>
#include <cstdlib>
#include <systemd/sd-daemon.h>

namespace tarn1::service_manager
{

Systemd_service_manager::Systemd_service_manager() noexcept
{
    const char* socket_name = std::getenv("NOTIFY_SOCKET");
    m_present = socket_name != nullptr && *socket_name != '\0';
    std::uint64_t interval_us = 0;
    // Keep-alives travel over the notification socket: without it there is nobody to keep alive.
    if (m_present && ::sd_watchdog_enabled(0, &interval_us) > 0)
    {
        m_watchdog_interval = std::chrono::microseconds{interval_us};
    }
}

int Systemd_service_manager::notify(const char* assignments) noexcept
{
    if (!m_present)
    {
        return 0;
    }
    const int result = ::sd_notify(0, assignments);
    return result > 0 ? 1 : result;
}

} // namespace tarn1::service_manager
