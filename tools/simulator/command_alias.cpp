#include "tools/simulator/command_alias.hpp"

#include "tools/simulator/scenario_runner.hpp"

namespace tarn1::simulator
{

std::vector<std::string> expand_alias(const std::vector<std::string>& words)
{
    if (words.empty())
    {
        return words;
    }
    for (const auto& command : Scenario_runner::commands())
    {
        for (const auto& short_form : command.short_forms)
        {
            if (words[0] != short_form.word)
            {
                continue;
            }
            std::vector<std::string> expanded{command.name};
            expanded.insert(expanded.end(), short_form.arguments.begin(), short_form.arguments.end());
            expanded.insert(expanded.end(), words.begin() + 1, words.end());
            const std::size_t given = words.size() - 1;
            for (std::size_t i = given; i < short_form.defaults.size(); ++i)
            {
                expanded.push_back(short_form.defaults[i]);
            }
            return expanded;
        }
    }
    return words;
}

} // namespace tarn1::simulator
