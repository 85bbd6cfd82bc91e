#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <sys/types.h>
#include <thread>

namespace tarn1::testing
{

/// CPU time (user and system, all threads) that pid has used, in clock ticks; nothing when it is gone.
std::optional<std::uint64_t> cpu_ticks(pid_t pid);
/// Resident memory of pid (VmRSS) in KiB; nothing when it is gone.
std::optional<std::size_t> resident_kib(pid_t pid);
/// Open descriptors of pid; nothing when it is gone.
std::optional<std::size_t> descriptor_count(pid_t pid);

/// The share of one core (1.0: one core busy all the time) that pid uses over the next window;
/// nothing when it ends meanwhile. Returns after the window.
std::optional<double> cpu_share(pid_t pid, std::chrono::milliseconds window);

/// Samples the resident memory of pid every 10 ms on a thread of its own, keeping the largest.
class Peak_resident_memory final
{
  public:
    explicit Peak_resident_memory(pid_t pid);
    ~Peak_resident_memory();

    Peak_resident_memory(const Peak_resident_memory&) = delete;
    Peak_resident_memory& operator=(const Peak_resident_memory&) = delete;

    /// The largest sample so far, KiB.
    std::size_t peak_kib() const { return m_peak; }

  private:
    pid_t m_pid;
    std::atomic<std::size_t> m_peak{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

/// Waits for condition, checking every 10 ms, at most timeout.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

} // namespace tarn1::testing
