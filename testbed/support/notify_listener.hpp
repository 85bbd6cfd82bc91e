#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarn1::testing
{

/// One datagram that reached the listener, with the time it was read.
struct Notification
{
    std::string text;
    std::chrono::steady_clock::time_point received;
};

/// Plays the service manager's notification socket: a unix datagram socket bound at a path,
/// read by a thread of its own that stamps each datagram with its arrival time.
class Notify_listener final
{
  public:
    /// Binds at path (a missing or stale file is replaced); is_bound() tells whether that worked.
    explicit Notify_listener(std::string path);
    ~Notify_listener();

    Notify_listener(const Notify_listener&) = delete;
    Notify_listener& operator=(const Notify_listener&) = delete;

    bool is_bound() const noexcept { return m_descriptor >= 0; }
    const std::string& path() const noexcept { return m_path; }

    /// Waits until a datagram at index from or later holds fragment; its index, or nothing at
    /// the deadline.
    std::optional<std::size_t>
    wait_for(const std::string& fragment, std::chrono::milliseconds timeout, std::size_t from = 0) const;

    /// Waits until at least count datagrams have arrived; false at the deadline.
    bool wait_for_count(std::size_t count, std::chrono::milliseconds timeout) const;

    /// Every datagram so far, in arrival order.
    std::vector<Notification> notifications() const;

  private:
    void read_all();

    std::string m_path;
    int m_descriptor{-1};
    std::thread m_reader;
    // Guards m_notifications: appended by the reader thread, read by the test thread.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::vector<Notification> m_notifications;
};

} // namespace tarn1::testing
