#include "ara/log/logger.h"
#include "log_runtime.hpp"

#include <cerrno>
#include <ctime>
#include <memory>
#include <string>
#include <unistd.h>

namespace ara::log::detail
{
namespace
{

/// One line per message on standard error: "<local time> <app> <context> [<level>] <text>".
/// The line is written with one write(2), unbuffered, so a reader (a terminal, a pipe to the
/// simulator) sees each message whole and at once, also across processes.
class Console_sink final : public Log_sink
{
  public:
    void write(const std::string& app_id, const Log_message& message) noexcept override
    {
        try
        {
            const auto since_epoch = message.time.time_since_epoch();
            const std::time_t seconds = std::chrono::duration_cast<std::chrono::seconds>(since_epoch).count();
            const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(since_epoch).count() % 1000000;
            std::tm local{};
            localtime_r(&seconds, &local);
            char stamp[48];
            const std::size_t stamp_length = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

            m_line.clear();
            m_line.append(stamp, stamp_length);
            char fraction[16];
            const int fraction_length = std::snprintf(fraction, sizeof fraction, ".%06ld ", static_cast<long>(micros));
            m_line.append(fraction, static_cast<std::size_t>(fraction_length));
            m_line.append(app_id).append(" ").append(message.logger->context_id()).append(" [");
            m_line.append(to_text(message.level)).append("] ").append(message.text).append("\n");
            write_all(m_line.data(), m_line.size());
        }
        catch (...)
        {
            // Logging never throws into its caller; a message that cannot be formatted is lost.
        }
    }

  private:
    static void write_all(const char* data, std::size_t size) noexcept
    {
        while (size > 0)
        {
            const ssize_t written = ::write(STDERR_FILENO, data, size);
            if (written < 0)
            {
                if (errno == EINTR)
                {
                    continue;
                }
                return;
            }
            data += written;
            size -= static_cast<std::size_t>(written);
        }
    }

    // Reused between messages; only touched under the runtime's emit lock.
    std::string m_line;
};

} // namespace

std::unique_ptr<Log_sink> make_console_sink()
{
    return std::make_unique<Console_sink>();
}

} // namespace ara::log::detail
