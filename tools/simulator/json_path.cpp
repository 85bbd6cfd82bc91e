#include "tools/simulator/json_path.hpp"

#include <cstdlib>
#include <vector>

namespace tarn1::simulator
{

namespace
{

std::vector<std::string> segments_of(const std::string& path)
{
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size())
    {
        const auto end = path.find('/', start);
        const std::string segment = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!segment.empty())
        {
            segments.push_back(segment);
        }
        if (end == std::string::npos)
        {
            break;
        }
        start = end + 1;
    }
    return segments;
}

std::optional<long> index_of(const std::string& text)
{
    if (text.empty() || text.size() > 9)
    {
        return std::nullopt;
    }
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    return *end == '\0' ? std::optional<long>(value) : std::nullopt;
}

std::string text_of(const nlohmann::json& value)
{
    return value.is_string() ? value.get<std::string>() : value.dump();
}

/// One step down from current by name or index; nullptr when there is nothing.
const nlohmann::json* step(const nlohmann::json& current, const std::string& name)
{
    if (current.is_object())
    {
        const auto found = current.find(name);
        return found == current.end() ? nullptr : &*found;
    }
    const auto index = index_of(name);
    if (!current.is_array() || !index)
    {
        return nullptr;
    }
    const long size = static_cast<long>(current.size());
    const long at = *index < 0 ? size + *index : *index;
    return at >= 0 && at < size ? &current[static_cast<std::size_t>(at)] : nullptr;
}

std::optional<double> number_of(const std::string& text)
{
    if (text.empty())
    {
        return std::nullopt;
    }
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return *end == '\0' ? std::optional<double>(value) : std::nullopt;
}

} // namespace

std::optional<nlohmann::json> json_at(const nlohmann::json& document, const std::string& path)
{
    const nlohmann::json* current = &document;
    for (const auto& segment : segments_of(path))
    {
        if (segment == "size()")
        {
            if (!current->is_array() && !current->is_object())
            {
                return std::nullopt;
            }
            return nlohmann::json(current->size());
        }
        const auto open = segment.find('[');
        const std::string name = segment.substr(0, open);
        if (!name.empty())
        {
            current = step(*current, name);
            if (current == nullptr)
            {
                return std::nullopt;
            }
        }
        if (open == std::string::npos)
        {
            continue;
        }
        const auto equals = segment.find('=', open);
        if (segment.back() != ']' || equals == std::string::npos || !current->is_array())
        {
            return std::nullopt;
        }
        const std::string key = segment.substr(open + 1, equals - open - 1);
        const std::string wanted = segment.substr(equals + 1, segment.size() - equals - 2);
        const nlohmann::json* chosen = nullptr;
        for (const auto& element : *current)
        {
            if (element.is_object() && element.contains(key) && text_of(element.at(key)) == wanted)
            {
                chosen = &element;
                break;
            }
        }
        if (chosen == nullptr)
        {
            return std::nullopt;
        }
        current = chosen;
    }
    return *current;
}

bool json_matches(const nlohmann::json& value, const std::string& expected)
{
    static const char* const s_comparisons[] = {">=", "<=", ">", "<"};
    for (const char* comparison : s_comparisons)
    {
        const std::string prefix = comparison;
        if (expected.compare(0, prefix.size(), prefix) != 0)
        {
            continue;
        }
        const auto bound = number_of(expected.substr(prefix.size()));
        if (!bound || !value.is_number())
        {
            return false;
        }
        const double number = value.get<double>();
        return prefix == ">="   ? number >= *bound
               : prefix == "<=" ? number <= *bound
               : prefix == ">"  ? number > *bound
                                : number < *bound;
    }
    const bool negated = expected.compare(0, 2, "!=") == 0;
    const std::string wanted = negated ? expected.substr(2) : expected;
    // A text that looks like JSON ("800000") still matches the same text.
    const bool equal = (value.is_string() && value.get<std::string>() == wanted) ||
                       (nlohmann::json::accept(wanted) && value == nlohmann::json::parse(wanted));
    return equal != negated;
}

} // namespace tarn1::simulator
