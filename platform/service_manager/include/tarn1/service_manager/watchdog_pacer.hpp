#pragma once

#include "tarn1/service_manager/service_manager_interface.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>

namespace tarn1::service_manager
{

/// Turns a daemon's alive checkpoints into WATCHDOG=1 keep-alives: at most one per quarter of
/// the service manager's watchdog interval, however often the checkpoints come, so that a loop
/// that cycles every few milliseconds does not flood the manager, and a loop that stops cycling
/// stops the keep-alives. Does nothing when the manager does not watch the process.
class Watchdog_pacer final
{
  public:
    /// Which result a kick had.
    enum class Kick : std::uint8_t
    {
        /// The manager does not watch this process, or the last keep-alive is recent enough.
        not_due,
        sent,
        /// The keep-alive was due but could not be sent; the next one is due a quarter interval later.
        failed
    };

    /// Reads the manager's watchdog interval once; the manager must outlive the pacer.
    explicit Watchdog_pacer(Service_manager_interface& service_manager) noexcept;

    /// An alive checkpoint at time now: sends WATCHDOG=1 when a quarter of the watchdog interval
    /// has passed since the last one sent or tried (or none was yet). Never throws. Any thread;
    /// of concurrent kicks that are due at once, one sends.
    Kick kick(std::chrono::steady_clock::time_point now) noexcept;

    /// True when the manager watches this process (the kicks may send).
    bool is_watched() const noexcept { return m_spacing.count() > 0; }

  private:
    Service_manager_interface& m_service_manager;
    std::chrono::steady_clock::duration m_spacing;
    // Time of the last keep-alive sent or tried, in steady-clock ticks; the minimum before the
    // first. Kicks of any thread meet here.
    std::atomic<std::chrono::steady_clock::rep> m_last;
};

} // namespace tarn1::service_manager
