#pragma once

#include <cstdint>

namespace ara::log
{

/// Severity of a message; a smaller value is more severe.
enum class LogLevel : std::uint8_t
{
    kOff = 0x00,
    kFatal = 0x01,
    kError = 0x02,
    kWarn = 0x03,
    kInfo = 0x04,
    kDebug = 0x05,
    kVerbose = 0x06
};

/// Where messages go; values may be combined.
enum class LogMode : std::uint8_t
{
    kRemote = 0x01,
    kFile = 0x02,
    kConsole = 0x04
};

constexpr LogMode operator|(LogMode lhs, LogMode rhs) noexcept
{
    return static_cast<LogMode>(static_cast<std::uint8_t>(lhs) | static_cast<std::uint8_t>(rhs));
}

constexpr bool has_mode(LogMode modes, LogMode one) noexcept
{
    return (static_cast<std::uint8_t>(modes) & static_cast<std::uint8_t>(one)) != 0;
}

/// Lower-case name of a level as printed on the console ("info", "warn", ...).
const char* to_text(LogLevel level) noexcept;

} // namespace ara::log
