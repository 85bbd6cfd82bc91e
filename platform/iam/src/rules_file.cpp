#include "rules_file.hpp"

#include <cstdlib>
#include <sstream>

namespace tarn1::platform_iam
{

void read_rules_lines(std::istream& text, std::vector<Rules_line>& lines)
{
    std::string line;
    std::size_t number = 0;
    while (std::getline(text, line))
    {
        ++number;
        const auto comment = line.find('#');
        if (comment != std::string::npos)
        {
            line.erase(comment);
        }
        std::istringstream words(line);
        Rules_line parsed{number, {}};
        std::string word;
        while (words >> word)
        {
            parsed.fields.push_back(word);
        }
        if (!parsed.fields.empty())
        {
            lines.push_back(std::move(parsed));
        }
    }
}

std::string path_from_environment(const char* variable, const char* default_path)
{
    const char* value = std::getenv(variable);
    return (value != nullptr && *value != '\0') ? std::string(value) : std::string(default_path);
}

bool glob_match(const std::string& pattern, const std::string& text) noexcept
{
    // Iterative matcher with one backtrack point: linear in practice, no recursion.
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = std::string::npos;
    std::size_t resume = 0;
    while (t < text.size())
    {
        if (p < pattern.size() && pattern[p] == '*')
        {
            star = p++;
            resume = t;
        }
        else if (p < pattern.size() && pattern[p] == text[t])
        {
            ++p;
            ++t;
        }
        else if (star != std::string::npos)
        {
            p = star + 1;
            t = ++resume;
        }
        else
        {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
    {
        ++p;
    }
    return p == pattern.size();
}

} // namespace tarn1::platform_iam
