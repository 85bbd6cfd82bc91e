#pragma once

// What the robustness tests assert of a daemon under attack; docs/robustness.md lists them.

#include <chrono>
#include <cstddef>
#include <sys/resource.h>

namespace tarn1::testing
{

/// The descriptor limit the daemons run with (`ulimit -n`), low so that a flood reaches it.
constexpr rlim_t s_descriptor_limit = 128;
/// Share of one core a daemon may use while attacked: the attackers are paced, so a daemon that
/// does not spin has little to do.
constexpr double s_max_cpu_share = 0.20;
constexpr std::chrono::milliseconds s_cpu_window{1000};
/// How long a well-behaved client may wait to be served; a few milliseconds without attack.
constexpr std::chrono::milliseconds s_normal_time{1000};
/// What a daemon may log during one attack.
constexpr std::size_t s_max_log_growth = std::size_t{256} * 1024;
/// Sanitizers multiply memory and CPU use (shadow memory, freed blocks held in quarantine, checks
/// on every access), so the CPU share is not asserted in those builds and memory only against a
/// bound that still tells a runaway from AddressSanitizer's quarantine (256 MiB).
#if defined(TARN1_SANITIZED_BUILD)
constexpr bool s_sanitized = true;
#else
constexpr bool s_sanitized = false;
#endif
/// Resident memory at any time of an attack, Statewarden and the IAM daemon.
constexpr std::size_t s_max_statewarden_resident_kib = static_cast<std::size_t>(s_sanitized ? 512 : 64) * 1024;
constexpr std::size_t s_max_iam_resident_kib = static_cast<std::size_t>(s_sanitized ? 512 : 32) * 1024;
/// Out of descriptors, UBSan's runtime cannot check dynamic types (it probes memory through a pipe
/// it opens each time), so a daemon held at its descriptor limit fails checks on sound objects.
#if defined(TARN1_SANITIZE_UNDEFINED)
constexpr bool s_sanitized_undefined = true;
#else
constexpr bool s_sanitized_undefined = false;
#endif

} // namespace tarn1::testing
