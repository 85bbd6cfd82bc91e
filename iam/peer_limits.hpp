#pragma once

#include "tarn1/log_limit/log_rate_limiter.hpp"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace vela::iam
{

/// Descriptors the daemon keeps for itself whatever the number of sessions: the standard streams,
/// the listening socket, the event loop (epoll, its wake-up and timer descriptors), the signal pipe,
/// the logging connection, what the alias query and policy decision clients open while a request
/// is decided, and the one connection accepted only to be closed again. About a dozen are in use;
/// the rest is headroom for the platform libraries.
inline constexpr std::uint64_t reserved_descriptors = 32;
/// Each session holds its connection; the alias query and policy clients keep none between requests.
inline constexpr std::uint64_t descriptors_per_session = 1;
/// However high the descriptor limit, the sessions stay at this (about 5 KiB each).
inline constexpr std::size_t max_sessions = 4096;
/// Sessions one uid other than root may hold, at most; with few descriptors, half of all sessions.
inline constexpr std::size_t max_sessions_per_uid = 64;
/// The uid counted for a peer whose credentials cannot be read (no user has it).
inline constexpr std::uint32_t unknown_uid = 0xffffffffU;

/// What peers may make the daemon hold and write.
struct Peer_limits
{
    /// Sessions open at once, in all.
    std::size_t sessions;
    /// Sessions open at once of one uid; root is bound only by sessions.
    std::size_t sessions_per_uid;
    /// Lines of one kind the sessions of one uid cause are written at most log_burst times per
    /// log_interval; the rest is counted and the count goes with the next line written.
    std::chrono::steady_clock::duration log_interval{std::chrono::seconds(1)};
    unsigned log_burst{5};
};

/// The limits for a process that may hold descriptor_limit descriptors: the sessions use what the
/// reserve leaves, up to max_sessions, and one uid at most half of them, up to max_sessions_per_uid.
Peer_limits peer_limits_for(std::uint64_t descriptor_limit) noexcept;

/// The soft RLIMIT_NOFILE of this process; "unlimited" (or a failed query) counts as the largest value.
std::uint64_t read_descriptor_limit() noexcept;

/// The lines a peer can cause as often as it likes, one limiter per kind, keyed by the peer's uid:
/// the sessions of one uid share its budget, so opening more connections buys no more lines.
struct Session_log_limits
{
    explicit Session_log_limits(const Peer_limits& limits);

    /// "..., error: " of a failed receive (mostly a peer that closed its connection)
    tarn1::log_limit::Log_rate_limiter receive_failed;
    /// "..., data override"
    tarn1::log_limit::Log_rate_limiter data_override;
    /// "..., exception: " of a request that does not decode
    tarn1::log_limit::Log_rate_limiter undecodable;
    /// "..., exception: " of a request the request handler refuses
    tarn1::log_limit::Log_rate_limiter refused;
    /// "Session::handle_write: ..., error: "
    tarn1::log_limit::Log_rate_limiter write_failed;
};

/// Counts the open sessions, in all and per peer uid, against the limits. Lives as long as the
/// longest of the server and its sessions (each admitted session holds a share through its
/// Session_place). Runs on the event-loop thread only.
class Session_admission final
{
  public:
    enum class Verdict
    {
        admitted,
        all_sessions_taken,
        uid_sessions_taken,
    };

    explicit Session_admission(const Peer_limits& limits);

    Session_admission(const Session_admission&) = delete;
    Session_admission& operator=(const Session_admission&) = delete;

    /// Books a session of uid when both limits allow it.
    Verdict admit(std::uint32_t uid);
    /// Gives back one session of uid that admit booked.
    void release(std::uint32_t uid) noexcept;

    std::size_t open_sessions() const noexcept { return m_open; }
    const Peer_limits& limits() const noexcept { return m_limits; }

  private:
    const Peer_limits m_limits;
    std::size_t m_open{0};
    std::unordered_map<std::uint32_t, std::size_t> m_open_per_uid;
};

/// One admitted session's place: released when the place is destroyed. Move-only.
class Session_place final
{
  public:
    Session_place() = default;
    Session_place(std::shared_ptr<Session_admission> admission, std::uint32_t uid) noexcept
        : m_admission(std::move(admission))
        , m_uid(uid)
    {
    }
    ~Session_place()
    {
        if (m_admission)
        {
            m_admission->release(m_uid);
        }
    }

    Session_place(Session_place&& other) noexcept = default;
    Session_place& operator=(Session_place&& other) noexcept
    {
        if (this != &other)
        {
            Session_place gone(std::move(*this));
            m_admission = std::move(other.m_admission);
            m_uid = other.m_uid;
        }
        return *this;
    }
    Session_place(const Session_place&) = delete;
    Session_place& operator=(const Session_place&) = delete;

    std::uint32_t uid() const noexcept { return m_uid; }

  private:
    std::shared_ptr<Session_admission> m_admission;
    std::uint32_t m_uid{unknown_uid};
};

} // namespace vela::iam
