#pragma once

#include "tools/simulator/journal.hpp"
#include "tools/simulator/vm_interface.hpp"

#include <istream>
#include <string>
#include <vector>

namespace tarn1::simulator
{

/// Runs the simulator's commands, one line at a time, from a scenario file or the console.
/// Relative file names in commands are taken from base_dir (the scenario file's folder).
class Scenario_runner final
{
  public:
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

  private:
    bool execute_words(const std::vector<std::string>& words, std::string& error);
    bool expect(const std::vector<std::string>& words, std::string& error);
    /// expect json SUBCOMMAND PATH VALUE [within DELAY]
    bool expect_json(const std::vector<std::string>& words, std::string& error);
    /// ctl ARGS...: runs statewarden_ctl; its lines and "exit N" become "ctl" events.
    bool run_ctl(const std::vector<std::string>& words, std::string& error);
    std::string path_of(const std::string& file) const;

    Vm_interface& m_vm;
    Journal& m_journal;
    std::string m_base_dir;
    std::string m_skip_reason;
};

/// The command summary shown by "help".
const char* help_text();

} // namespace tarn1::simulator
