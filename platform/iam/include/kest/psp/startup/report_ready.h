#pragma once

namespace kest::psp::startup
{

/// Tells the platform's start-up supervision that the calling daemon is ready.
/// Stand-in: logs "report_ready" (context "PSP") and, when the process was started by systemd
/// with a notification socket ($NOTIFY_SOCKET), sends "READY=1" to it. Never throws.
void report_ready();

} // namespace kest::psp::startup
