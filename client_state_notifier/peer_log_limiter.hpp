#pragma once

#include "tarn1/log_limit/log_rate_limiter.hpp"

#include <chrono>
#include <cstdint>
#include <mutex>

namespace utilities
{

/// How often a message that clients can cause at will is written.
struct Log_limits
{
    std::chrono::steady_clock::duration interval{std::chrono::seconds(1)};
    /// Lines per interval for one peer.
    unsigned per_peer{5};
    /// Lines per interval for all peers together, so that a peer that keeps changing its
    /// identity (new connections, new names, new processes) is bounded as well.
    unsigned in_all{100};
};

/// Decides whether one kind of message that a client can cause is written: at most
/// Log_limits::per_peer lines per interval for one peer and Log_limits::in_all for every peer
/// together. What is held back is counted and handed to the next line written, whose verdict
/// then appends " (N similar messages suppressed)". Thread safe.
class Peer_log_limiter final
{
  public:
    using Clock = tarn1::log_limit::Log_rate_limiter::Clock;
    using Verdict = tarn1::log_limit::Log_rate_limiter::Verdict;

    explicit Peer_log_limiter(const Log_limits& limits = Log_limits{});

    Peer_log_limiter(const Peer_log_limiter&) = delete;
    Peer_log_limiter& operator=(const Peer_log_limiter&) = delete;

    /// Counts one occurrence for peer at time now and says whether to write it.
    Verdict check(std::uint64_t peer, Clock::time_point now = Clock::now());

  private:
    tarn1::log_limit::Log_rate_limiter m_per_peer;
    tarn1::log_limit::Log_rate_limiter m_in_all;
    // Makes the two checks and the carried count one step: the threads that log on behalf of peers.
    std::mutex m_mutex;
    /// Held-back counts of a peer whose own line then fell to the overall bound.
    std::uint64_t m_carried{0};
};

} // namespace utilities
