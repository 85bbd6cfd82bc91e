#include "client_state_notifier/peer_log_limiter.hpp"

namespace utilities
{

namespace
{

// The per-peer limiter remembers this many peers; a peer beyond them is still bounded by the
// overall limit.
constexpr std::size_t s_remembered_peers = 64;

} // namespace

Peer_log_limiter::Peer_log_limiter(const Log_limits& limits)
    : m_per_peer(limits.interval, limits.per_peer, s_remembered_peers)
    , m_in_all(limits.interval, limits.in_all, 1)
{
}

Peer_log_limiter::Verdict Peer_log_limiter::check(std::uint64_t peer, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto own = m_per_peer.check(peer, now);
    if (!own.pass)
    {
        return own;
    }
    const auto all = m_in_all.check(0, now);
    if (!all.pass)
    {
        // The per-peer limiter has handed this peer's count over with its pass: keep it for
        // the next line that is written, so that nothing held back goes unmentioned.
        m_carried += own.suppressed;
        return all;
    }
    const Verdict verdict{true, own.suppressed + all.suppressed + m_carried};
    m_carried = 0;
    return verdict;
}

} // namespace utilities
