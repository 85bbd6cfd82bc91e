#pragma once

#include "ara/log/common.h"
#include "ara/log/log_stream.h"
#include "ara/log/logger.h"

#include <string>

namespace ara::log
{

/// Sets the application id, the level below which nothing is emitted and where messages go.
/// Called once at the start of a program, before any message. Until it is called, every
/// level is emitted to the installed captures only (so library tests see everything), and
/// to the console when ARA_LOG_CONSOLE=1.
///
/// Environment overrides, read here:
///   ARA_LOG_LEVEL   off|fatal|error|warn|info|debug|verbose replaces the given level.
///   ARA_LOG_CONSOLE 0 silences the console sink, 1 forces it on.
///   ARA_LOG_DLT     1 forces the DLT sink on, 0 off; unset: on for kRemote when a DLT daemon
///                   is reachable (the FIFO "dlt" exists in DLT_PIPE_DIR,
///                   default /tmp).
void InitLogging(
    std::string appId, std::string appDescription, LogLevel appDefLogLevel, LogMode logMode, std::string directoryPath);

/// Returns the context with this id, creating it on first use; it lives until the process ends.
Logger& CreateLogger(std::string ctxId, std::string ctxDescription);

/// Streams on the application's default context ("DFLT").
LogStream LogFatal() noexcept;
LogStream LogError() noexcept;
LogStream LogWarn() noexcept;
LogStream LogInfo() noexcept;
LogStream LogDebug() noexcept;
LogStream LogVerbose() noexcept;

} // namespace ara::log
