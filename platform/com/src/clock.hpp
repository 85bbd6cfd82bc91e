#pragma once

#include <chrono>

namespace kest::com::internal
{

/// The clock of every deadline and timeout of the middleware.
using Clock = std::chrono::steady_clock;

} // namespace kest::com::internal
