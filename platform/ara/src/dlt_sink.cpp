#include "ara/log/logger.h"
#include "log_runtime.hpp"

#include <cstdlib>
#include <cstring>
#include <dlt/dlt.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace ara::log::detail
{
namespace
{

DltLogLevelType to_dlt(LogLevel level) noexcept
{
    switch (level)
    {
    case LogLevel::kFatal:
        return DLT_LOG_FATAL;
    case LogLevel::kError:
        return DLT_LOG_ERROR;
    case LogLevel::kWarn:
        return DLT_LOG_WARN;
    case LogLevel::kInfo:
        return DLT_LOG_INFO;
    case LogLevel::kDebug:
        return DLT_LOG_DEBUG;
    case LogLevel::kVerbose:
        return DLT_LOG_VERBOSE;
    case LogLevel::kOff:
        break;
    }
    return DLT_LOG_OFF;
}

/// libdlt's thread reports a level set from outside (dlt-control, a DLT viewer) for a context.
void on_level_changed(char context_id[DLT_ID_SIZE], std::uint8_t log_level, std::uint8_t /*trace_status*/)
{
    Log_runtime::instance().set_context_level(std::string(context_id, ::strnlen(context_id, DLT_ID_SIZE)), log_level);
}

/// Sends each message in DLT verbose mode: one argument per streamed piece, of the piece's
/// type. Each context is registered with libdlt at the level this runtime applies to it, and
/// a level the DLT daemon later sets for it (from dlt-control or a viewer) becomes the
/// context's level in this runtime too, so the console and DLT let the same messages through.
class Dlt_sink final : public Context_sink
{
  public:
    Dlt_sink(const std::string& app_id, const std::string& description)
    {
        // libdlt's own diagnostics go to standard error, never to the program's standard output.
        dlt_log_init(DLT_LOG_TO_STDERR);
        dlt_check_library_version(_DLT_PACKAGE_MAJOR_VERSION, _DLT_PACKAGE_MINOR_VERSION);
        // Without this, every process exit waits up to 10 s for an absent daemon.
        dlt_set_resend_timeout_atexit(0);
        dlt_register_app(app_id.c_str(), description.c_str());
    }

    ~Dlt_sink() override
    {
        for (auto& context : m_contexts)
        {
            dlt_unregister_context(context.get());
        }
        dlt_unregister_app();
    }

    Dlt_sink(const Dlt_sink&) = delete;
    Dlt_sink& operator=(const Dlt_sink&) = delete;

    void register_context(const Logger& logger) noexcept override { context_of(logger); }

    void write(const std::string&, const Log_message& message) noexcept override
    {
        DltContext* context = context_of(*message.logger);
        if (context == nullptr)
        {
            return;
        }
        DltContextData data;
        if (dlt_user_log_write_start(context, &data, to_dlt(message.level)) <= 0)
        {
            return;
        }
        for (const Log_piece& piece : message.pieces)
        {
            switch (piece.type)
            {
            case Log_piece::Type::kText:
                dlt_user_log_write_sized_string(
                    &data, message.text.data() + piece.offset, static_cast<std::uint16_t>(piece.length));
                break;
            case Log_piece::Type::kInt32:
                dlt_user_log_write_int32(&data, static_cast<std::int32_t>(piece.value));
                break;
            case Log_piece::Type::kInt64:
                dlt_user_log_write_int64(&data, static_cast<std::int64_t>(piece.value));
                break;
            case Log_piece::Type::kUint8:
                dlt_user_log_write_uint8(&data, static_cast<std::uint8_t>(piece.value));
                break;
            case Log_piece::Type::kUint16:
                dlt_user_log_write_uint16(&data, static_cast<std::uint16_t>(piece.value));
                break;
            case Log_piece::Type::kUint32:
                dlt_user_log_write_uint32(&data, static_cast<std::uint32_t>(piece.value));
                break;
            case Log_piece::Type::kUint64:
                dlt_user_log_write_uint64(&data, piece.value);
                break;
            }
        }
        dlt_user_log_write_finish(&data);
    }

  private:
    /// The most detailed level the logger lets through now.
    static LogLevel level_of(const Logger& logger) noexcept
    {
        for (auto level = static_cast<std::uint8_t>(LogLevel::kVerbose);
             level > static_cast<std::uint8_t>(LogLevel::kOff);
             --level)
        {
            if (logger.IsLogEnabled(static_cast<LogLevel>(level)))
            {
                return static_cast<LogLevel>(level);
            }
        }
        return LogLevel::kOff;
    }

    DltContext* context_of(const Logger& logger) noexcept
    {
        if (logger.transport_handle() != nullptr)
        {
            return static_cast<DltContext*>(logger.transport_handle());
        }
        try
        {
            auto context = std::make_unique<DltContext>();
            if (dlt_register_context_ll_ts(context.get(),
                                           logger.context_id().c_str(),
                                           logger.context_description().c_str(),
                                           to_dlt(level_of(logger)),
                                           DLT_TRACE_STATUS_OFF) < 0)
            {
                return nullptr;
            }
            dlt_register_log_level_changed_callback(context.get(), &on_level_changed);
            logger.set_transport_handle(context.get());
            m_contexts.push_back(std::move(context));
            return m_contexts.back().get();
        }
        catch (...)
        {
            return nullptr;
        }
    }

    // Only touched under the runtime's emit lock.
    std::vector<std::unique_ptr<DltContext>> m_contexts;
};

} // namespace

std::unique_ptr<Context_sink> make_dlt_sink(const std::string& app_id, const std::string& description)
{
    return std::make_unique<Dlt_sink>(app_id, description);
}

bool dlt_daemon_reachable() noexcept
{
    // libdlt talks to the daemon through the FIFO "dlt" in DLT_PIPE_DIR (default /tmp), which
    // the daemon creates when it starts.
    const char* pipe_dir = std::getenv("DLT_PIPE_DIR");
    std::string fifo = (pipe_dir != nullptr && *pipe_dir != '\0') ? pipe_dir : "/tmp";
    fifo += "/dlt";
    struct stat info
    {
    };
    return ::stat(fifo.c_str(), &info) == 0 && S_ISFIFO(info.st_mode);
}

} // namespace ara::log::detail
