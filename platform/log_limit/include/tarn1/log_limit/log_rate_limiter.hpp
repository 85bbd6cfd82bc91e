#pragma once

#include "ara/log/log_stream.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tarn1::log_limit
{

/// Decides whether a message that a peer can cause as often as it likes is written: per key, the
/// first `burst` occurrences within one interval pass, later ones are only counted, and the count
/// is handed to the next occurrence that passes so that the log says how many were held back.
///
/// Use one limiter per kind of message and the peer as the key (a uid, a pid, a descriptor). At
/// most `max_keys` keys are remembered (memory is fixed at construction); a new key beyond that
/// replaces the one seen least recently, whose held-back count then goes with the next message
/// that passes, so nothing held back goes unmentioned. Thread safe; costs one uncontended lock and a
/// scan over at most `max_keys` entries, no allocation.
class Log_rate_limiter final
{
  public:
    using Clock = std::chrono::steady_clock;

    struct Verdict
    {
        /// Write the message now.
        bool pass;
        /// Messages of this key (or of keys forgotten for lack of room) held back since the last
        /// one that passed; only meaningful when pass is true.
        std::uint64_t suppressed;
    };

    explicit Log_rate_limiter(Clock::duration interval = std::chrono::seconds(1),
                              unsigned burst = 1,
                              std::size_t max_keys = 64);

    Log_rate_limiter(const Log_rate_limiter&) = delete;
    Log_rate_limiter& operator=(const Log_rate_limiter&) = delete;

    /// Counts one occurrence for key at time now and says whether to write it.
    Verdict check(std::uint64_t key, Clock::time_point now = Clock::now());

  private:
    struct Slot
    {
        std::uint64_t key;
        Clock::time_point window_start;
        Clock::time_point last_seen;
        unsigned passed_in_window;
        std::uint64_t suppressed;
    };

    Slot& slot_for(std::uint64_t key, Clock::time_point now);

    const Clock::duration m_interval;
    const unsigned m_burst;
    const std::size_t m_max_keys;
    // Guards the slots and the orphaned count: any thread that logs on behalf of a peer.
    std::mutex m_mutex;
    std::vector<Slot> m_slots;
    std::uint64_t m_orphaned_suppressed{0};
};

/// Appends " (N similar messages suppressed)" when N is above zero, so that a documented text
/// keeps its exact form on its first occurrence and says afterwards what was held back.
inline ara::log::LogStream& operator<<(ara::log::LogStream& stream, const Log_rate_limiter::Verdict& verdict)
{
    if (verdict.suppressed > 0)
    {
        stream << " (" << verdict.suppressed << " similar messages suppressed)";
    }
    return stream;
}

} // namespace tarn1::log_limit
