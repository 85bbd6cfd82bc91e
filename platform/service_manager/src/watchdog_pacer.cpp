#include "tarn1/service_manager/watchdog_pacer.hpp"

#include <limits>

namespace tarn1::service_manager
{
namespace
{

using Rep = std::chrono::steady_clock::rep;

constexpr Rep s_never = std::numeric_limits<Rep>::min();

} // namespace

Watchdog_pacer::Watchdog_pacer(Service_manager_interface& service_manager) noexcept
    : m_service_manager(service_manager)
    , m_spacing(std::chrono::duration_cast<std::chrono::steady_clock::duration>(service_manager.watchdog_interval()) /
                4)
    , m_last(s_never)
{
}

Watchdog_pacer::Kick Watchdog_pacer::kick(std::chrono::steady_clock::time_point now) noexcept
{
    if (m_spacing.count() <= 0)
    {
        return Kick::not_due;
    }
    const Rep now_ticks = now.time_since_epoch().count();
    Rep last = m_last.load(std::memory_order_relaxed);
    if (last != s_never && now_ticks - last < m_spacing.count())
    {
        return Kick::not_due;
    }
    // Of several threads that find the keep-alive due, the one that books it sends it.
    if (!m_last.compare_exchange_strong(last, now_ticks, std::memory_order_relaxed))
    {
        return Kick::not_due;
    }
    const int result = m_service_manager.notify("WATCHDOG=1");
    if (result > 0)
    {
        return Kick::sent;
    }
    return result < 0 ? Kick::failed : Kick::not_due;
}

} // namespace tarn1::service_manager
