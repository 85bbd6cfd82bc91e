#include "log_limits.hpp"

#include <chrono>

namespace kest::com::internal
{

tarn1::log_limit::Log_rate_limiter& log_limit(Limited_log kind)
{
    using tarn1::log_limit::Log_rate_limiter;
    using namespace std::chrono_literals;
    // One line per second and key; failing callbacks get a few more, since unrelated ones may fail
    // together and the first of each should be seen.
    static Log_rate_limiter* const s_limits[] = {
        new Log_rate_limiter(1s, 1, 64),
        new Log_rate_limiter(1s, 1, 64),
        new Log_rate_limiter(1s, 1, 64),
        new Log_rate_limiter(1s, 1, 16),
        new Log_rate_limiter(1s, 1, 64),
        new Log_rate_limiter(1s, 1, 64),
        new Log_rate_limiter(1s, 1, 4),
        new Log_rate_limiter(1s, 10, 2),
        new Log_rate_limiter(1s, 1, 4),
        new Log_rate_limiter(1s, 1, 64),
    };
    static_assert(sizeof s_limits / sizeof s_limits[0] == static_cast<std::size_t>(Limited_log::kProviderRefused) + 1,
                  "one limiter per kind");
    return *s_limits[static_cast<std::size_t>(kind)];
}

} // namespace kest::com::internal
