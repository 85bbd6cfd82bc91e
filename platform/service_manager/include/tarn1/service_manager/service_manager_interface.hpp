#pragma once

#include <chrono>

namespace tarn1::service_manager
{

/// The service manager that started this process, as the daemons and the platform stand-ins see
/// it: where readiness, the status line, stopping and watchdog keep-alives go. When no service
/// manager started the process, nothing is sent and nothing fails.
class Service_manager_interface
{
  public:
    virtual ~Service_manager_interface() = default;

    /// True when a service manager listens for this process's notifications. Fixed for the
    /// object's life; cheap enough for every loop cycle. Any thread.
    virtual bool is_present() const noexcept = 0;

    /// Sends one notification of newline-separated assignments ("READY=1\nSTATUS=running").
    /// 1 when sent, 0 when no service manager listens (nothing is sent), a negative errno when the
    /// send failed. Never throws. Any thread.
    virtual int notify(const char* assignments) noexcept = 0;

    /// The interval within which the service manager wants WATCHDOG=1 from this process; zero
    /// when it does not watch it. Fixed for the object's life. Any thread.
    virtual std::chrono::microseconds watchdog_interval() const noexcept = 0;

  protected:
    Service_manager_interface() = default;
    Service_manager_interface(const Service_manager_interface&) = default;
    Service_manager_interface& operator=(const Service_manager_interface&) = default;
};

} // namespace tarn1::service_manager
