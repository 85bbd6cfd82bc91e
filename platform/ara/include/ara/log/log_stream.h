#pragma once

#include "ara/log/common.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ara::log
{

class Logger;

/// One piece streamed into a message, kept with its type so that a typed transport
/// (DLT verbose mode) can send it as one argument of that type.
struct Log_piece
{
    enum class Type : std::uint8_t
    {
        kText,
        kInt32,
        kInt64,
        kUint8,
        kUint16,
        kUint32,
        kUint64
    };
    Type type;
    /// Offset and length of the piece's rendering inside the message text.
    std::uint32_t offset;
    std::uint32_t length;
    /// The value of numeric pieces (signed ones stored two's complement).
    std::uint64_t value;
};

/// One message under construction. Pieces are appended in order and the whole message is
/// emitted once, when the stream is destroyed. A stream whose level is not enabled does
/// nothing at all. Streaming never throws into the caller.
class LogStream final
{
  public:
    LogStream(LogLevel level, const Logger& logger) noexcept;
    ~LogStream();

    LogStream(const LogStream&) = delete;
    LogStream& operator=(const LogStream&) = delete;
    LogStream(LogStream&& other) noexcept;
    LogStream& operator=(LogStream&&) = delete;

    LogStream& operator<<(const char* value) noexcept;
    LogStream& operator<<(const std::string& value) noexcept;
    LogStream& operator<<(std::int32_t value) noexcept;
    LogStream& operator<<(std::int64_t value) noexcept;
    LogStream& operator<<(std::uint8_t value) noexcept;
    LogStream& operator<<(std::uint16_t value) noexcept;
    LogStream& operator<<(std::uint32_t value) noexcept;
    LogStream& operator<<(std::uint64_t value) noexcept;

    /// Emits what has been streamed so far as one message and starts an empty one.
    void Flush() noexcept;

  private:
    void append(Log_piece::Type type, const char* text, std::size_t length, std::uint64_t value) noexcept;

    const Logger* m_logger;
    LogLevel m_level;
    bool m_enabled;
    std::string m_text;
    std::vector<Log_piece> m_pieces;
};

} // namespace ara::log
