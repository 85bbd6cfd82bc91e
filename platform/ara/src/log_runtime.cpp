#include "log_runtime.hpp"

#include "ara/log/logging.h"

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace ara::log
{
namespace detail
{
namespace
{

bool level_from_text(const char* text, LogLevel& level) noexcept
{
    static const std::pair<const char*, LogLevel> names[] = {{"off", LogLevel::kOff},
                                                             {"fatal", LogLevel::kFatal},
                                                             {"error", LogLevel::kError},
                                                             {"warn", LogLevel::kWarn},
                                                             {"info", LogLevel::kInfo},
                                                             {"debug", LogLevel::kDebug},
                                                             {"verbose", LogLevel::kVerbose}};
    for (const auto& [name, value] : names)
    {
        if (std::strcmp(name, text) == 0)
        {
            level = value;
            return true;
        }
    }
    return false;
}

/// -1 when the variable is unset or not 0/1.
int env_switch(const char* name) noexcept
{
    const char* value = std::getenv(name);
    if (value == nullptr)
    {
        return -1;
    }
    if (std::strcmp(value, "1") == 0)
    {
        return 1;
    }
    if (std::strcmp(value, "0") == 0)
    {
        return 0;
    }
    return -1;
}

} // namespace

Log_runtime& Log_runtime::instance()
{
    // Deliberately leaked: logging must keep working while other statics are destroyed.
    static auto* runtime = new Log_runtime();
    return *runtime;
}

Log_runtime::Log_runtime()
    : m_threshold(static_cast<std::uint8_t>(LogLevel::kVerbose))
    , m_app_id("NONE")
{
    m_loggers.emplace("DFLT", std::make_unique<Logger>("DFLT", "default context"));
    m_default_logger = m_loggers.at("DFLT").get();
    if (env_switch("ARA_LOG_CONSOLE") == 1)
    {
        m_console = make_console_sink();
    }
}

void Log_runtime::init(const std::string& app_id, const std::string& description, LogLevel level, LogMode mode)
{
    if (const char* override_level = std::getenv("ARA_LOG_LEVEL"); override_level != nullptr)
    {
        level_from_text(override_level, level);
    }

    const int console_switch = env_switch("ARA_LOG_CONSOLE");
    const bool console = console_switch == 1 ||
                         (console_switch == -1 && (has_mode(mode, LogMode::kConsole) ||
                                                   has_mode(mode, LogMode::kRemote) || has_mode(mode, LogMode::kFile)));
    const int dlt_switch = env_switch("ARA_LOG_DLT");
    const bool dlt =
        dlt_switch == 1 || (dlt_switch == -1 && has_mode(mode, LogMode::kRemote) && dlt_daemon_reachable());

    // The contexts that exist already are made known to DLT at once, so that dlt-control can
    // address them before they write their first message. Collected first: the context table's
    // lock is never held while calling into a sink.
    std::vector<const Logger*> existing;
    {
        std::lock_guard<std::mutex> lock(m_loggers_mutex);
        for (const auto& entry : m_loggers)
        {
            existing.push_back(entry.second.get());
        }
    }

    std::lock_guard<std::mutex> lock(m_emit_mutex);
    m_threshold.store(static_cast<std::uint8_t>(level), std::memory_order_relaxed);
    m_app_id = app_id.substr(0, 4);
    m_console = console ? make_console_sink() : nullptr;
    if (dlt && !m_dlt)
    {
        m_dlt = make_dlt_sink(m_app_id, description);
        for (const Logger* logger : existing)
        {
            m_dlt->register_context(*logger);
        }
    }
}

Logger& Log_runtime::logger(const std::string& context_id, const std::string& description)
{
    Logger* created = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_loggers_mutex);
        auto found = m_loggers.find(context_id);
        if (found != m_loggers.end())
        {
            return *found->second;
        }
        created = m_loggers.emplace(context_id, std::make_unique<Logger>(context_id, description)).first->second.get();
    }
    std::lock_guard<std::mutex> lock(m_emit_mutex);
    if (m_dlt)
    {
        m_dlt->register_context(*created);
    }
    return *created;
}

void Log_runtime::set_context_level(const std::string& context_id, std::uint8_t dlt_level) noexcept
{
    // DLT's "default" level (-1 on the wire) hands the context back to the application's level.
    constexpr std::uint8_t s_dlt_default = 0xFF;
    std::lock_guard<std::mutex> lock(m_loggers_mutex);
    const auto found = m_loggers.find(context_id);
    if (found == m_loggers.end())
    {
        return;
    }
    if (dlt_level == s_dlt_default)
    {
        found->second->clear_context_level();
    }
    else if (dlt_level <= static_cast<std::uint8_t>(LogLevel::kVerbose))
    {
        found->second->set_context_level(static_cast<LogLevel>(dlt_level));
    }
}

void Log_runtime::emit(const Log_message& message) noexcept
{
    std::lock_guard<std::mutex> lock(m_emit_mutex);
    if (m_console)
    {
        m_console->write(m_app_id, message);
    }
    if (m_dlt)
    {
        m_dlt->write(m_app_id, message);
    }
    for (Log_sink* sink : m_extra_sinks)
    {
        sink->write(m_app_id, message);
    }
}

void Log_runtime::add_sink(Log_sink* sink)
{
    std::lock_guard<std::mutex> lock(m_emit_mutex);
    m_extra_sinks.push_back(sink);
}

void Log_runtime::remove_sink(Log_sink* sink) noexcept
{
    std::lock_guard<std::mutex> lock(m_emit_mutex);
    for (auto it = m_extra_sinks.begin(); it != m_extra_sinks.end(); ++it)
    {
        if (*it == sink)
        {
            m_extra_sinks.erase(it);
            return;
        }
    }
}

} // namespace detail

const char* to_text(LogLevel level) noexcept
{
    switch (level)
    {
    case LogLevel::kOff:
        return "off";
    case LogLevel::kFatal:
        return "fatal";
    case LogLevel::kError:
        return "error";
    case LogLevel::kWarn:
        return "warn";
    case LogLevel::kInfo:
        return "info";
    case LogLevel::kDebug:
        return "debug";
    case LogLevel::kVerbose:
        return "verbose";
    }
    return "unknown";
}

// The platform API takes its strings by value.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void InitLogging(std::string appId, std::string appDescription, LogLevel appDefLogLevel, LogMode logMode, std::string)
{
    detail::Log_runtime::instance().init(appId, appDescription, appDefLogLevel, logMode);
}

// The platform API takes its strings by value.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
Logger& CreateLogger(std::string ctxId, std::string ctxDescription)
{
    return detail::Log_runtime::instance().logger(ctxId.substr(0, 4), ctxDescription);
}

LogStream LogFatal() noexcept
{
    return detail::Log_runtime::instance().default_logger().LogFatal();
}
LogStream LogError() noexcept
{
    return detail::Log_runtime::instance().default_logger().LogError();
}
LogStream LogWarn() noexcept
{
    return detail::Log_runtime::instance().default_logger().LogWarn();
}
LogStream LogInfo() noexcept
{
    return detail::Log_runtime::instance().default_logger().LogInfo();
}
LogStream LogDebug() noexcept
{
    return detail::Log_runtime::instance().default_logger().LogDebug();
}
LogStream LogVerbose() noexcept
{
    return detail::Log_runtime::instance().default_logger().LogVerbose();
}

void add_sink(Log_sink* sink)
{
    detail::Log_runtime::instance().add_sink(sink);
}
void remove_sink(Log_sink* sink) noexcept
{
    detail::Log_runtime::instance().remove_sink(sink);
}

Logger::Logger(std::string context_id, std::string context_description)
    : m_context_id(std::move(context_id))
    , m_context_description(std::move(context_description))
{
}

bool Logger::IsLogEnabled(LogLevel level) const noexcept
{
    const std::uint8_t context_level = m_context_level.load(std::memory_order_relaxed);
    if (context_level != s_no_context_level)
    {
        return level != LogLevel::kOff && static_cast<std::uint8_t>(level) <= context_level;
    }
    return detail::Log_runtime::instance().enabled(level);
}

void Logger::set_context_level(LogLevel level) const noexcept
{
    m_context_level.store(static_cast<std::uint8_t>(level), std::memory_order_relaxed);
}

void Logger::clear_context_level() const noexcept
{
    m_context_level.store(s_no_context_level, std::memory_order_relaxed);
}

} // namespace ara::log
