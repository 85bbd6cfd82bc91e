#include "ara/log/log_stream.h"

#include "ara/log/logger.h"
#include "ara/log/sink.h"
#include "log_runtime.hpp"

#include <charconv>
#include <chrono>
#include <cstring>
#include <utility>

namespace ara::log
{

LogStream::LogStream(LogLevel level, const Logger& logger) noexcept
    : m_logger(&logger)
    , m_level(level)
    , m_enabled(logger.IsLogEnabled(level))
{
}

LogStream::LogStream(LogStream&& other) noexcept
    : m_logger(other.m_logger)
    , m_level(other.m_level)
    , m_enabled(std::exchange(other.m_enabled, false))
    , m_text(std::move(other.m_text))
    , m_pieces(std::move(other.m_pieces))
{
}

LogStream::~LogStream()
{
    Flush();
}

void LogStream::Flush() noexcept
{
    if (!m_enabled || m_pieces.empty())
    {
        return;
    }
    const Log_message message{std::chrono::system_clock::now(), m_level, m_logger, m_text, m_pieces};
    detail::Log_runtime::instance().emit(message);
    m_text.clear();
    m_pieces.clear();
}

void LogStream::append(Log_piece::Type type, const char* text, std::size_t length, std::uint64_t value) noexcept
{
    try
    {
        m_pieces.push_back(
            Log_piece{type, static_cast<std::uint32_t>(m_text.size()), static_cast<std::uint32_t>(length), value});
        m_text.append(text, length);
    }
    catch (...)
    {
        // Out of memory: the piece is lost, the caller goes on.
    }
}

namespace
{
template <typename T> std::size_t render(char (&buffer)[24], T value) noexcept
{
    const auto result = std::to_chars(std::begin(buffer), std::end(buffer), value);
    return static_cast<std::size_t>(result.ptr - buffer);
}
} // namespace

LogStream& LogStream::operator<<(const char* value) noexcept
{
    if (m_enabled)
    {
        const char* text = value != nullptr ? value : "(null)";
        append(Log_piece::Type::kText, text, std::strlen(text), 0);
    }
    return *this;
}

LogStream& LogStream::operator<<(const std::string& value) noexcept
{
    if (m_enabled)
    {
        append(Log_piece::Type::kText, value.data(), value.size(), 0);
    }
    return *this;
}

#define ARA_LOG_NUMERIC_OVERLOAD(TYPE, TAG)                                                                            \
    LogStream& LogStream::operator<<(TYPE value) noexcept                                                              \
    {                                                                                                                  \
        if (m_enabled)                                                                                                 \
        {                                                                                                              \
            char buffer[24];                                                                                           \
            append(Log_piece::Type::TAG, buffer, render(buffer, value), static_cast<std::uint64_t>(value));            \
        }                                                                                                              \
        return *this;                                                                                                  \
    }

ARA_LOG_NUMERIC_OVERLOAD(std::int32_t, kInt32)
ARA_LOG_NUMERIC_OVERLOAD(std::int64_t, kInt64)
ARA_LOG_NUMERIC_OVERLOAD(std::uint8_t, kUint8)
ARA_LOG_NUMERIC_OVERLOAD(std::uint16_t, kUint16)
ARA_LOG_NUMERIC_OVERLOAD(std::uint32_t, kUint32)
ARA_LOG_NUMERIC_OVERLOAD(std::uint64_t, kUint64)

#undef ARA_LOG_NUMERIC_OVERLOAD

} // namespace ara::log
