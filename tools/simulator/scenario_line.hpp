#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tarn1::simulator
{

/// Splits one scenario line into words: blanks separate, double quotes group ("a b" is one word,
/// \" and \\ inside quotes stand for themselves), '#' outside quotes starts a comment.
/// Nothing (empty) for a blank or comment line; std::nullopt for an unterminated quote.
std::optional<std::vector<std::string>> split_line(const std::string& line);

/// A duration such as "250ms", "2s", "1.5s" or "3" (seconds); std::nullopt when malformed.
std::optional<std::chrono::milliseconds> parse_duration(const std::string& text);

/// A byte string written as hex digits ("01000000", "01 00 00 00" joined, "0x01000000");
/// std::nullopt for an odd count or a non-hex character.
std::optional<std::vector<unsigned char>> parse_hex(const std::string& text);

/// Two lower-case hex digits per byte.
std::string to_hex(const std::vector<unsigned char>& bytes);

} // namespace tarn1::simulator
