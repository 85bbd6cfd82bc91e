#pragma once

#include <cstdint>

namespace kest::com::internal
{

/// Start time of a process in clock ticks after boot (field 22 of /proc/<pid>/stat), which tells
/// a process apart from a later one that reuses its pid; 0 when there is no such process or it has
/// ended (a zombie). Any thread.
std::uint64_t process_start_time(std::int32_t pid);

} // namespace kest::com::internal
