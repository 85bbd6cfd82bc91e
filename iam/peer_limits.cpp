#include "iam/peer_limits.hpp"

#include <algorithm>
#include <limits>
#include <sys/resource.h>

namespace vela::iam
{

Peer_limits peer_limits_for(std::uint64_t descriptor_limit) noexcept
{
    const std::uint64_t spare = descriptor_limit > reserved_descriptors ? descriptor_limit - reserved_descriptors : 0;
    const auto sessions =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(spare / descriptors_per_session, 1, max_sessions));
    // With few descriptors one uid gets half, so that others always find room.
    const std::size_t per_uid = std::clamp<std::size_t>(sessions / 2, 1, max_sessions_per_uid);
    return Peer_limits{sessions, per_uid};
}

std::uint64_t read_descriptor_limit() noexcept
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    {
        return std::numeric_limits<std::uint64_t>::max();
    }
    return static_cast<std::uint64_t>(limit.rlim_cur);
}

Session_log_limits::Session_log_limits(const Peer_limits& limits)
    : receive_failed(limits.log_interval, limits.log_burst)
    , data_override(limits.log_interval, limits.log_burst)
    , undecodable(limits.log_interval, limits.log_burst)
    , refused(limits.log_interval, limits.log_burst)
    , write_failed(limits.log_interval, limits.log_burst)
{
}

Session_admission::Session_admission(const Peer_limits& limits)
    : m_limits(limits)
{
}

Session_admission::Verdict Session_admission::admit(std::uint32_t uid)
{
    if (m_open >= m_limits.sessions)
    {
        return Verdict::all_sessions_taken;
    }
    auto& of_uid = m_open_per_uid[uid];
    if (uid != 0 && of_uid >= m_limits.sessions_per_uid)
    {
        return Verdict::uid_sessions_taken;
    }
    ++of_uid;
    ++m_open;
    return Verdict::admitted;
}

void Session_admission::release(std::uint32_t uid) noexcept
{
    const auto found = m_open_per_uid.find(uid);
    if (found == m_open_per_uid.end() || found->second == 0 || m_open == 0)
    {
        return;
    }
    --m_open;
    if (--found->second == 0)
    {
        m_open_per_uid.erase(found);
    }
}

} // namespace vela::iam
