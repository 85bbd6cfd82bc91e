#pragma once

#include "vela/iam/messages.hpp"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace vela::iam::testing
{

/// What a Peer_process saw of its connections.
struct Peer_report
{
    /// Answered with the expected response; these stay open.
    int answered{0};
    /// Closed by the server without an answer.
    int closed{0};
    /// A connect, a send or an answer that did not come in time; the first one ends the run.
    int stuck{0};
    /// errno of a failed connect (0 when none failed).
    int connect_errno{0};
};

/// A client process of another uid, for tests run as root. The child, forked from the threaded
/// test, makes only system calls: it takes uid as its user and group ids, then opens up to `connections` connections to
/// path one after the other, sends request on each and reads the answer. It reports, then keeps the answered
/// connections open until the object is destroyed, which kills it.
class Peer_process final
{
  public:
    Peer_process(const std::string& path,
                 std::uint32_t uid,
                 int connections,
                 const std::string& request,
                 const std::string& expected_response);
    ~Peer_process();

    Peer_process(const Peer_process&) = delete;
    Peer_process& operator=(const Peer_process&) = delete;

    /// The child's report, or nullopt when none came within timeout.
    std::optional<Peer_report> report(std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

  private:
    pid_t m_pid{-1};
    int m_report_reader{-1};
};

/// The response text of decision, with its terminating zero byte, as the server writes it.
std::string response_bytes(Decision decision);

} // namespace vela::iam::testing
