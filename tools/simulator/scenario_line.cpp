#include "tools/simulator/scenario_line.hpp"

#include <cmath>
#include <cstdlib>

namespace tarn1::simulator
{

std::optional<std::vector<std::string>> split_line(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i)
    {
        const char c = line[i];
        if (quoted)
        {
            if (c == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\'))
            {
                word += line[++i];
            }
            else if (c == '"')
            {
                quoted = false;
            }
            else
            {
                word += c;
            }
            continue;
        }
        if (c == '#')
        {
            break;
        }
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
        {
            if (in_word)
            {
                words.push_back(word);
                word.clear();
                in_word = false;
            }
            continue;
        }
        in_word = true;
        if (c == '"')
        {
            quoted = true;
        }
        else
        {
            word += c;
        }
    }
    if (quoted)
    {
        return std::nullopt;
    }
    if (in_word)
    {
        words.push_back(word);
    }
    return words;
}

std::optional<std::chrono::milliseconds> parse_duration(const std::string& text)
{
    std::string number = text;
    double scale = 1000.0;
    if (text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0)
    {
        number = text.substr(0, text.size() - 2);
        scale = 1.0;
    }
    else if (text.size() > 1 && text.back() == 's')
    {
        number = text.substr(0, text.size() - 1);
    }
    if (number.empty() || number.find_first_not_of("0123456789.") != std::string::npos)
    {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size() || value * scale > 3600000.0)
    {
        return std::nullopt;
    }
    return std::chrono::milliseconds(std::lround(value * scale));
}

std::optional<std::vector<unsigned char>> parse_hex(const std::string& text)
{
    std::string digits = text;
    if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    {
        digits.erase(0, 2);
    }
    if (digits.size() % 2 != 0 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    {
        return std::nullopt;
    }
    std::vector<unsigned char> bytes;
    for (std::size_t i = 0; i < digits.size(); i += 2)
    {
        bytes.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string to_hex(const std::vector<unsigned char>& bytes)
{
    static const char* const s_digits = "0123456789abcdef";
    std::string text;
    for (const auto byte : bytes)
    {
        text += s_digits[byte >> 4];
        text += s_digits[byte & 0xF];
    }
    return text;
}

} // namespace tarn1::simulator
