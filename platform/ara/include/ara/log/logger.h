#pragma once

#include "ara/log/common.h"
#include "ara/log/log_stream.h"

#include <atomic>
#include <cstdint>
#include <string>

namespace ara::log
{

/// A logging context. Loggers are created by CreateLogger (or the default context of the
/// application) and live until the process ends.
class Logger final
{
  public:
    Logger(std::string context_id, std::string context_description);

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    LogStream LogFatal() const noexcept { return LogStream(LogLevel::kFatal, *this); }
    LogStream LogError() const noexcept { return LogStream(LogLevel::kError, *this); }
    LogStream LogWarn() const noexcept { return LogStream(LogLevel::kWarn, *this); }
    LogStream LogInfo() const noexcept { return LogStream(LogLevel::kInfo, *this); }
    LogStream LogDebug() const noexcept { return LogStream(LogLevel::kDebug, *this); }
    LogStream LogVerbose() const noexcept { return LogStream(LogLevel::kVerbose, *this); }

    /// True when a message of this level would be emitted; cheap (one or two atomic loads).
    bool IsLogEnabled(LogLevel level) const noexcept;

    /// A level set for this context alone from outside at run time (a DLT viewer or dlt-control
    /// changing the context's log level): from now on it replaces the application's level for
    /// this context, upwards or downwards. clear_context_level() returns to the application's
    /// level. Called by the DLT transport's receiving thread; takes effect for the next message.
    void set_context_level(LogLevel level) const noexcept;
    void clear_context_level() const noexcept;

    const std::string& context_id() const noexcept { return m_context_id; }
    const std::string& context_description() const noexcept { return m_context_description; }

    /// Opaque per-context handle of a transport (the DLT context), set once by the runtime.
    void* transport_handle() const noexcept { return m_transport_handle; }
    void set_transport_handle(void* handle) const noexcept { m_transport_handle = handle; }

  private:
    std::string m_context_id;
    std::string m_context_description;
    mutable void* m_transport_handle{nullptr};
    static constexpr std::uint8_t s_no_context_level = 0xFF;
    // Written by the DLT transport's thread, read by every logging thread.
    mutable std::atomic<std::uint8_t> m_context_level{s_no_context_level};
};

} // namespace ara::log
