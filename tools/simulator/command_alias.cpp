#include "tools/simulator/command_alias.hpp"

namespace tarn1::simulator
{

namespace
{

struct Alias
{
    std::string word;
    std::vector<std::string> command;
    /// Taken for the missing trailing arguments, first argument first.
    std::vector<std::string> defaults;
};

const std::vector<Alias>& aliases()
{
    static const std::vector<Alias> s_aliases{
        {"e+", {"request", "ecualive"}, {"EcuAlive_Diagnostics"}},
        {"e-", {"release", "ecualive"}, {"EcuAlive_Diagnostics"}},
        {"c+", {"request", "comalive"}, {"ComAlive_Telematics", "010000", "3"}},
        {"c-", {"release", "comalive"}, {"ComAlive_Telematics", "010000"}},
        {"w+", {"request", "cwu"}, {"CarWakeUp_Telematics", "1"}},
        {"w-", {"release", "cwu"}, {"CarWakeUp_Telematics"}},
        {"d+", {"request", "dsa"}, {"1"}},
        {"cl+", {"client", "add"}, {}},
        {"cl-", {"client", "remove"}, {}},
        {"k", {"press"}, {}},
        {"net", {"network"}, {}},
        {"sig", {"signal"}, {"TERM"}},
    };
    return s_aliases;
}

} // namespace

std::vector<std::string> expand_alias(const std::vector<std::string>& words)
{
    if (words.empty())
    {
        return words;
    }
    for (const Alias& alias : aliases())
    {
        if (words[0] != alias.word)
        {
            continue;
        }
        std::vector<std::string> expanded = alias.command;
        expanded.insert(expanded.end(), words.begin() + 1, words.end());
        const std::size_t given = words.size() - 1;
        for (std::size_t i = given; i < alias.defaults.size(); ++i)
        {
            expanded.push_back(alias.defaults[i]);
        }
        return expanded;
    }
    return words;
}

} // namespace tarn1::simulator
