#include "tools/simulator/command_alias.hpp"
#include "tools/simulator/scenario_runner.hpp"
#include "tools/simulator/tests/mocks/mock_vm.hpp"

#include <algorithm>
#include <cctype>
#include <gtest/gtest.h>
#include <iterator>
#include <ostream>
#include <set>
#include <sstream>

namespace tarn1::simulator
{

void PrintTo(const Scenario_runner::Command& command, std::ostream* os)
{
    *os << command.name;
}

namespace
{

using ::testing::StrictMock;

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    {
        ++count;
    }
    return count;
}

/// The line of a command followed by count plain arguments.
std::string line_with(const std::string& name, std::size_t count)
{
    std::string line = name;
    for (std::size_t i = 0; i < count; ++i)
    {
        line += " x";
    }
    return line;
}

/// The short-form part of the help, the words of every line.
std::vector<std::string> short_form_help_words()
{
    const std::string help = help_text();
    const auto heading = help.find("Short forms (");
    std::istringstream lines(help.substr(help.find('\n', heading) + 1));
    std::vector<std::string> words;
    std::string word;
    while (lines >> word)
    {
        words.push_back(word);
    }
    return words;
}

/// The name of the command that word finds, "" when none.
std::string resolved_name(const std::string& word)
{
    const auto* command = Scenario_runner::find_command(word);
    return command != nullptr ? command->name : "";
}

class Command_table_test : public ::testing::TestWithParam<Scenario_runner::Command>
{
  protected:
    StrictMock<testing::Mock_vm> vm;
    Journal journal;
    Scenario_runner sut{vm, journal, "/scenarios"};
    std::string error;
};

TEST_P(Command_table_test, NameAndShortFormsResolveToTheCommand)
{
    const auto& command = GetParam();

    EXPECT_EQ(resolved_name(command.name), command.name);
    for (const auto& short_form : command.short_forms)
    {
        const auto expanded = expand_alias({short_form.word});
        ASSERT_FALSE(expanded.empty()) << short_form.word;
        EXPECT_EQ(resolved_name(expanded[0]), command.name) << short_form.word;
    }
}

TEST_P(Command_table_test, HelpListsTheCommandOnce)
{
    const auto& commands = Scenario_runner::commands();
    const auto at = std::find_if(
        commands.begin(), commands.end(), [&](const auto& command) { return command.name == GetParam().name; });
    ASSERT_NE(at, commands.end());

    if (!at->help.empty())
    {
        EXPECT_EQ(occurrences(help_text(), at->help), 1u);
    }
    else
    {
        // Described by the text of the command before it.
        ASSERT_NE(at, commands.begin());
        EXPECT_NE(std::prev(at)->help.find(at->name + " "), std::string::npos);
    }
    const auto words = short_form_help_words();
    for (const auto& short_form : at->short_forms)
    {
        EXPECT_EQ(std::count(words.begin(), words.end(), short_form.word), 1) << short_form.word;
    }
}

TEST_P(Command_table_test, WrongArgumentCountGivesTheUsageWithoutTouchingTheVm)
{
    const auto& command = GetParam();
    if (command.handler == nullptr)
    {
        // A command of the console alone is unknown to a scenario, whatever follows it.
        EXPECT_FALSE(sut.execute(line_with(command.name, 1), error));
        EXPECT_EQ(error, "unknown command " + command.name + " (help lists them)");
        return;
    }

    if (command.arguments.min > 0)
    {
        EXPECT_FALSE(sut.execute(line_with(command.name, command.arguments.min - 1), error));
        EXPECT_EQ(error, "usage: " + command.arguments.usage);
    }
    if (command.arguments.max != Scenario_runner::s_any)
    {
        EXPECT_FALSE(sut.execute(line_with(command.name, command.arguments.max + 1), error));
        EXPECT_EQ(error, "usage: " + command.arguments.usage);
    }
}

INSTANTIATE_TEST_SUITE_P(Commands,
                         Command_table_test,
                         ::testing::ValuesIn(Scenario_runner::commands()),
                         [](const ::testing::TestParamInfo<Scenario_runner::Command>& param)
                         {
                             std::string name;
                             for (const char c : param.param.name)
                             {
                                 name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
                             }
                             return name;
                         });

TEST(Command_table_words_test, NamesAndShortFormsAreUniqueAndEveryShortFormLineNamesOnlyShortForms)
{
    std::set<std::string> words;
    std::set<std::string> short_forms;
    for (const auto& command : Scenario_runner::commands())
    {
        EXPECT_TRUE(words.insert(command.name).second) << command.name;
        for (const auto& short_form : command.short_forms)
        {
            EXPECT_TRUE(words.insert(short_form.word).second) << short_form.word;
            short_forms.insert(short_form.word);
        }
    }

    // Each line of the short-form list starts with a short form.
    const std::string help = help_text();
    std::istringstream lines(help.substr(help.find('\n', help.find("Short forms (")) + 1));
    std::string line;
    while (std::getline(lines, line))
    {
        std::istringstream first(line);
        std::string word;
        first >> word;
        EXPECT_EQ(short_forms.count(word), 1u) << line;
    }
}

TEST(Command_table_words_test, EveryConsoleKeyRunsACommandOfTheTable)
{
    for (const auto& [key, line] : console_keys())
    {
        const auto words = expand_alias({line.substr(0, line.find(' '))});

        EXPECT_NE(resolved_name(words[0]), "") << key << ": " << line;
    }
}

struct Unknown_case
{
    const char* title;
    const char* line;
    const char* error;
};

class Command_table_unknown_test : public ::testing::TestWithParam<Unknown_case>
{
};

TEST_P(Command_table_unknown_test, UnknownCommandIsRefusedWithTheHint)
{
    StrictMock<testing::Mock_vm> vm;
    Journal journal;
    Scenario_runner sut{vm, journal, "/scenarios"};
    std::string error;

    EXPECT_FALSE(sut.execute(GetParam().line, error));

    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Lines,
    Command_table_unknown_test,
    ::testing::Values(Unknown_case{"NoSuchCommand", "frobnicate now", "unknown command frobnicate (help lists them)"},
                      Unknown_case{"HelpBelongsToTheConsole", "help", "unknown command help (help lists them)"},
                      Unknown_case{"NamesAreCaseSensitive", "Press P", "unknown command Press (help lists them)"},
                      Unknown_case{"ShortFormsAreExact", "E+", "unknown command E+ (help lists them)"}),
    [](const ::testing::TestParamInfo<Unknown_case>& param) { return std::string(param.param.title); });

} // namespace
} // namespace tarn1::simulator
