#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <sys/types.h>

namespace tarn1::testing
{

/// A child process running as another user, for tests run as root that play other users' peers.
/// The child, forked from a threaded test, closes the descriptors it inherited (a copy of the test's
/// connections would keep them open), drops its supplementary groups, takes uid as its group and
/// user id and runs body with the writing end of a report pipe. body must make system calls
/// only (no allocation, no locks): the parent's other threads may hold them. After body the child
/// waits until the object is destroyed, which kills it, so whatever body opened stays open.
class Uid_process final
{
  public:
    Uid_process(std::uint32_t uid, const std::function<void(int report)>& body);
    ~Uid_process();

    Uid_process(const Uid_process&) = delete;
    Uid_process& operator=(const Uid_process&) = delete;

    /// Reads exactly size bytes of the child's report; false when they did not come within timeout
    /// (or the child could not take the uid).
    bool read_report(void* data, std::size_t size, std::chrono::milliseconds timeout);
    pid_t pid() const noexcept { return m_pid; }

  private:
    pid_t m_pid{-1};
    int m_report{-1};
};

/// A unix stream socket connected to path, or -1 (errno set). System calls only, for a
/// Uid_process body; blocking unless nonblocking is set.
int connect_unix(const char* path, bool nonblocking = false) noexcept;

/// Sends all size bytes; false when the connection fails (or, non-blocking, is full). System
/// calls only.
bool send_all(int socket, const void* data, std::size_t size) noexcept;

} // namespace tarn1::testing
