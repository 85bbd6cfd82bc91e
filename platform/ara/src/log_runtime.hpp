#pragma once

#include "ara/log/common.h"
#include "ara/log/logger.h"
#include "ara/log/sink.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ara::log::detail
{

/// The process's logging state: application id, level threshold, sinks and contexts.
class Log_runtime final
{
  public:
    /// Never destroyed, so that messages from static destructors still have a home.
    static Log_runtime& instance();

    void init(const std::string& app_id, const std::string& description, LogLevel level, LogMode mode);
    Logger& logger(const std::string& context_id, const std::string& description);
    Logger& default_logger() noexcept { return *m_default_logger; }

    bool enabled(LogLevel level) const noexcept
    {
        return level != LogLevel::kOff &&
               static_cast<std::uint8_t>(level) <= m_threshold.load(std::memory_order_relaxed);
    }

    /// The application's level (after ARA_LOG_LEVEL), as a number of LogLevel.
    std::uint8_t threshold() const noexcept { return m_threshold.load(std::memory_order_relaxed); }

    /// A log level for one context set from outside (DLT): the DLT level value, 0 (off) to 6
    /// (verbose), or 0xFF (DLT's "default") to return to the application's level. Unknown
    /// contexts and values are ignored. Called on libdlt's receiving thread.
    void set_context_level(const std::string& context_id, std::uint8_t dlt_level) noexcept;

    void emit(const Log_message& message) noexcept;
    void add_sink(Log_sink* sink);
    void remove_sink(Log_sink* sink) noexcept;

  private:
    Log_runtime();

    std::atomic<std::uint8_t> m_threshold;

    // Guards the sinks and the application id; every emitting thread takes it, so that whole
    // messages reach each sink one after another and never interleave.
    std::mutex m_emit_mutex;
    std::string m_app_id;
    std::unique_ptr<Log_sink> m_console;
    std::unique_ptr<class Context_sink> m_dlt;
    std::vector<Log_sink*> m_extra_sinks;

    // Guards the context table; taken by CreateLogger callers and by libdlt's receiving thread
    // (level changes). Never held while calling into a sink, so it cannot meet libdlt's own lock
    // in the other order.
    std::mutex m_loggers_mutex;
    std::map<std::string, std::unique_ptr<Logger>> m_loggers;
    Logger* m_default_logger;
};

/// A sink that keeps a context of its own per logger (DLT).
class Context_sink : public Log_sink
{
  public:
    /// Makes the logger's context known to the transport at the logger's current level, once;
    /// later calls for the same logger do nothing. Called with the runtime's emit lock held.
    virtual void register_context(const Logger& logger) noexcept = 0;
};

/// The sink that writes one line per message to standard error.
std::unique_ptr<Log_sink> make_console_sink();
/// The sink that sends messages to a DLT daemon through libdlt; registers the application.
std::unique_ptr<Context_sink> make_dlt_sink(const std::string& app_id, const std::string& description);
/// True when a DLT daemon looks reachable (its user FIFO exists).
bool dlt_daemon_reachable() noexcept;

} // namespace ara::log::detail
