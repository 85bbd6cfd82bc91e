#pragma once

#include "tools/simulator/journal.hpp"
#include "tools/simulator/vm_interface.hpp"

#include <cstddef>
#include <istream>
#include <map>
#include <string>
#include <vector>

namespace tarn1::simulator
{

/// Runs the simulator's commands, one line at a time, from a scenario file or the console.
/// Relative file names in commands are taken from base_dir (the scenario file's folder).
class Scenario_runner final
{
  public:
    /// A short form of a command for typing at the console: word stands for the command's name
    /// followed by arguments; trailing arguments left out take defaults, first argument first.
    struct Short_form
    {
        std::string word;
        std::vector<std::string> arguments;
        std::vector<std::string> defaults;
        /// Its line in the short-form list of "help"; empty when the line of a later short form
        /// in the table describes it too.
        std::string help;
    };

    /// How many words may follow a command's name; outside that, "usage: <usage>".
    struct Argument_shape
    {
        std::size_t min;
        std::size_t max;
        std::string usage;
    };
    static constexpr std::size_t s_any = static_cast<std::size_t>(-1);

    /// One command of the scenario language and the console: what it is called, its short forms,
    /// the words it takes, what "help" says of it and what runs it. "help" shows the commands'
    /// texts in table order, section headings included; an empty text means the text of the
    /// command before it describes it too.
    struct Command
    {
        /// Runs a line whose words fit the command's shape.
        using Handler = bool (Scenario_runner::*)(const Command& command,
                                                  const std::vector<std::string>& words,
                                                  std::string& error);

        std::string name;
        std::vector<Short_form> short_forms;
        Argument_shape arguments;
        std::string help;
        /// Null for a command of the console alone ("help"): in a scenario it is unknown.
        Handler handler;
    };

    Scenario_runner(Vm_interface& vm, Journal& journal, std::string base_dir);

    /// Runs one line; false with error set when the command is malformed or an expectation fails.
    bool execute(const std::string& line, std::string& error);
    /// How a scenario ended.
    enum class Outcome
    {
        passed,
        failed,
        skipped // a "skip if" line matched: the daemon lacks a part the scenario needs
    };

    /// Runs every line of a scenario; on the first failure writes "<name>:<line>: ..." and the
    /// newest events to err.
    Outcome run(std::istream& scenario, const std::string& name, std::ostream& err);

    /// Every command, in the order "help" lists them. Any thread.
    static const std::vector<Command>& commands();
    /// The command called name, or null.
    static const Command* find_command(const std::string& name);

  private:
    bool execute_words(const std::vector<std::string>& words, std::string& error);
    /// error = "usage: <the command's usage>"; false.
    static bool refuse(const Command& command, std::string& error);

    // The commands' handlers (see the table in command_table.cpp).
    bool run_config(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_hostname(const Command& command, const std::vector<std::string>& words, std::string& error);
    /// poweroff-reader and iam-daemon: on|off, before start.
    bool run_presence(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_access(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_start(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_press(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_nm(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_network(const Command& command, const std::vector<std::string>& words, std::string& error);
    /// request and release.
    bool run_app_call(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_as(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_client(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_iam(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_signal(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_stop(const Command& command, const std::vector<std::string>& words, std::string& error);
    /// ctl ARGS...: runs statewarden_ctl; its lines and "exit N" become "ctl" events.
    bool run_ctl(const Command& command, const std::vector<std::string>& words, std::string& error);
    /// expect ..., and expect json ...
    bool run_expect(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_skip(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_wait(const Command& command, const std::vector<std::string>& words, std::string& error);
    bool run_echo(const Command& command, const std::vector<std::string>& words, std::string& error);

    bool expect(const std::vector<std::string>& words, std::string& error);
    /// expect json SUBCOMMAND PATH VALUE [within DELAY]
    bool expect_json(const std::vector<std::string>& words, std::string& error);
    std::string path_of(const std::string& file) const;

    Vm_interface& m_vm;
    Journal& m_journal;
    std::string m_base_dir;
    std::string m_skip_reason;
};

/// The command summary shown by "help": every command's help text in table order, then the
/// short forms.
const char* help_text();

/// The console's single keys and the command line each one runs ('p' runs "press P").
const std::map<char, std::string>& console_keys();

} // namespace tarn1::simulator
