#pragma once

#include "tarn1/service_manager/service_manager_interface.hpp"

#include <chrono>

namespace tarn1::service_manager
{

/// systemd's notification protocol through libsystemd. Whether systemd listens
/// ($NOTIFY_SOCKET) and its watchdog interval ($WATCHDOG_USEC, for this process when
/// $WATCHDOG_PID names it) are read once, at construction; the environment is left as it is, so
/// programs this process starts see the same.
class Systemd_service_manager final : public Service_manager_interface
{
  public:
    Systemd_service_manager() noexcept;

    bool is_present() const noexcept override { return m_present; }
    int notify(const char* assignments) noexcept override;
    std::chrono::microseconds watchdog_interval() const noexcept override { return m_watchdog_interval; }

  private:
    bool m_present{false};
    std::chrono::microseconds m_watchdog_interval{0};
};

} // namespace tarn1::service_manager
