#include "tarn1/log_limit/log_rate_limiter.hpp"

#include <algorithm>

namespace tarn1::log_limit
{

Log_rate_limiter::Log_rate_limiter(Clock::duration interval, unsigned burst, std::size_t max_keys)
    : m_interval(interval)
    , m_burst(std::max(burst, 1U))
    , m_max_keys(std::max<std::size_t>(max_keys, 1))
{
    m_slots.reserve(m_max_keys);
}

Log_rate_limiter::Verdict Log_rate_limiter::check(std::uint64_t key, Clock::time_point now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Slot& slot = slot_for(key, now);
    slot.last_seen = now;
    if (now - slot.window_start >= m_interval)
    {
        slot.window_start = now;
        slot.passed_in_window = 0;
    }
    if (slot.passed_in_window >= m_burst)
    {
        ++slot.suppressed;
        return Verdict{false, 0};
    }
    ++slot.passed_in_window;
    const Verdict verdict{true, slot.suppressed + m_orphaned_suppressed};
    slot.suppressed = 0;
    m_orphaned_suppressed = 0;
    return verdict;
}

Log_rate_limiter::Slot& Log_rate_limiter::slot_for(std::uint64_t key, Clock::time_point now)
{
    const auto found =
        std::find_if(m_slots.begin(), m_slots.end(), [key](const Slot& slot) { return slot.key == key; });
    if (found != m_slots.end())
    {
        return *found;
    }
    const Slot fresh{key, now, now, 0, 0};
    if (m_slots.size() < m_max_keys)
    {
        m_slots.push_back(fresh);
        return m_slots.back();
    }
    const auto oldest =
        std::min_element(m_slots.begin(),
                         m_slots.end(),
                         [](const Slot& left, const Slot& right) { return left.last_seen < right.last_seen; });
    m_orphaned_suppressed += oldest->suppressed;
    *oldest = fresh;
    return *oldest;
}

} // namespace tarn1::log_limit
