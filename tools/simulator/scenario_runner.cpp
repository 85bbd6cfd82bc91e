#include "tools/simulator/scenario_runner.hpp"

#include "tools/simulator/command_alias.hpp"
#include "tools/simulator/json_path.hpp"
#include "tools/simulator/scenario_line.hpp"

#include <algorithm>
#include <csignal>
#include <ctime>
#include <iomanip>
#include <ostream>
#include <sstream>
#include <thread>

namespace tarn1::simulator
{

namespace
{

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds s_default_within{5000};
// Between two runs of statewarden_ctl while an "expect json" waits for its value.
constexpr std::chrono::milliseconds s_json_retry{100};

bool parse_mode(const std::vector<std::string>& words,
                std::size_t at,
                Client_mode& mode,
                std::chrono::milliseconds& delay,
                std::string& error)
{
    delay = 0ms;
    const std::string word = at < words.size() ? words[at] : "now";
    if (word == "now")
    {
        mode = Client_mode::now;
    }
    else if (word == "error")
    {
        mode = Client_mode::error;
    }
    else if (word == "never")
    {
        mode = Client_mode::never;
    }
    else if (word == "late")
    {
        const auto parsed = at + 1 < words.size() ? parse_duration(words[at + 1]) : std::nullopt;
        if (!parsed)
        {
            error = "late needs a delay (late 2s)";
            return false;
        }
        mode = Client_mode::late;
        delay = *parsed;
    }
    else
    {
        error = "unknown answer mode " + word + " (now, late <delay>, error, never)";
        return false;
    }
    return true;
}

} // namespace

Scenario_runner::Scenario_runner(Vm_interface& vm, Journal& journal, std::string base_dir)
    : m_vm(vm)
    , m_journal(journal)
    , m_base_dir(std::move(base_dir))
{
}

std::string Scenario_runner::path_of(const std::string& file) const
{
    if (file.empty() || file[0] == '/' || m_base_dir.empty())
    {
        return file;
    }
    return m_base_dir + "/" + file;
}

bool Scenario_runner::execute(const std::string& line, std::string& error)
{
    const auto words = split_line(line);
    if (!words)
    {
        error = "unterminated quote";
        return false;
    }
    if (words->empty())
    {
        return true;
    }
    return execute_words(expand_alias(*words), error);
}

Scenario_runner::Outcome Scenario_runner::run(std::istream& scenario, const std::string& name, std::ostream& err)
{
    std::string line;
    int number = 0;
    while (std::getline(scenario, line))
    {
        ++number;
        std::string error;
        const bool done = execute(line, error);
        if (!m_skip_reason.empty())
        {
            err << name << ":" << number << ": skipped: " << m_skip_reason << "\n";
            m_journal.add("sim", "scenario skipped: " + m_skip_reason);
            return Outcome::skipped;
        }
        if (!done)
        {
            err << name << ":" << number << ": FAILED: " << line << "\n    " << error << "\nnewest events:\n";
            for (const auto& event : m_journal.tail(40))
            {
                err << "    " << event.kind << " " << event.text << "\n";
            }
            m_journal.add("sim", "FAILED at line " + std::to_string(number) + ": " + error);
            return Outcome::failed;
        }
    }
    m_journal.add("sim", "scenario passed");
    return Outcome::passed;
}

const Scenario_runner::Command* Scenario_runner::find_command(const std::string& name)
{
    for (const Command& command : commands())
    {
        if (command.name == name)
        {
            return &command;
        }
    }
    return nullptr;
}

bool Scenario_runner::refuse(const Command& command, std::string& error)
{
    error = "usage: " + command.arguments.usage;
    return false;
}

bool Scenario_runner::execute_words(const std::vector<std::string>& words, std::string& error)
{
    const Command* const command = find_command(words[0]);
    if (command == nullptr || command->handler == nullptr)
    {
        error = "unknown command " + words[0] + " (help lists them)";
        return false;
    }
    const std::size_t arguments = words.size() - 1;
    if (arguments < command->arguments.min || arguments > command->arguments.max)
    {
        return refuse(*command, error);
    }
    return (this->*command->handler)(*command, words, error);
}

bool Scenario_runner::run_config(const Command& /*command*/, const std::vector<std::string>& words, std::string& error)
{
    const std::string name = words.size() == 3 ? words[2] : "statewarden.json";
    return m_vm.set_config(words[1] == "none" ? "" : path_of(words[1]), name, error);
}

bool Scenario_runner::run_hostname(const Command& /*command*/,
                                   const std::vector<std::string>& words,
                                   std::string& error)
{
    return m_vm.set_hostname(words[1], error);
}

bool Scenario_runner::run_presence(const Command& command, const std::vector<std::string>& words, std::string& error)
{
    if (words[1] != "on" && words[1] != "off")
    {
        return refuse(command, error);
    }
    if (m_vm.started())
    {
        error = command.name + " must come before start";
        return false;
    }
    if (command.name == "iam-daemon")
    {
        m_vm.set_iam_daemon(words[1] == "on");
    }
    else
    {
        m_vm.set_poweroff_reader(words[1] == "on");
    }
    return true;
}

bool Scenario_runner::run_access(const Command& command, const std::vector<std::string>& words, std::string& error)
{
    if (words[1] != "enforce" && words[1] != "audit" && words[1] != "off")
    {
        return refuse(command, error);
    }
    if (m_vm.started())
    {
        error = "access must come before start";
        return false;
    }
    m_vm.set_access(words[1]);
    return true;
}

bool Scenario_runner::run_start(const Command& /*command*/,
                                const std::vector<std::string>& /*words*/,
                                std::string& error)
{
    return m_vm.start(error);
}

bool Scenario_runner::run_press(const Command& /*command*/, const std::vector<std::string>& words, std::string& error)
{
    for (std::size_t i = 1; i < words.size(); ++i)
    {
        if (!m_vm.press(words[i], error))
        {
            return false;
        }
    }
    return true;
}

bool Scenario_runner::run_nm(const Command& command, const std::vector<std::string>& words, std::string& error)
{
    if (words[1] == "offer")
    {
        return m_vm.nm_offer(error);
    }
    if (words[1] == "withdraw")
    {
        m_vm.nm_withdraw();
        return true;
    }
    return refuse(command, error);
}

bool Scenario_runner::run_network(const Command& command, const std::vector<std::string>& words, std::string& error)
{
    std::optional<std::vector<unsigned char>> value;
    if (words[1] == "active")
    {
        value = std::vector<unsigned char>{1};
    }
    else if (words[1] == "asleep")
    {
        value = std::vector<unsigned char>{0};
    }
    else
    {
        value = parse_hex(words[1]);
    }
    if (!value)
    {
        return refuse(command, error);
    }
    return m_vm.network_state(*value, error);
}

bool Scenario_runner::run_app_call(const Command& command, const std::vector<std::string>& words, std::string& error)
{
    return m_vm.app_call(command.name, words[1], std::vector<std::string>(words.begin() + 2, words.end()), error);
}

bool Scenario_runner::run_as(const Command& command, const std::vector<std::string>& words, std::string& error)
{
    const bool numeric =
        !words[1].empty() && words[1].size() < 10 && words[1].find_first_not_of("0123456789") == std::string::npos;
    const unsigned long uid = numeric ? std::stoul(words[1]) : 0;
    const auto request = expand_alias(std::vector<std::string>(words.begin() + 2, words.end()));
    if (uid == 0 || request.size() < 2 || (request[0] != "request" && request[0] != "release"))
    {
        return refuse(command, error);
    }
    return m_vm.app_call_as(static_cast<unsigned>(uid),
                            request[0],
                            request[1],
                            std::vector<std::string>(request.begin() + 2, request.end()),
                            error);
}

bool Scenario_runner::run_client(const Command& /*command*/, const std::vector<std::string>& words, std::string& error)
{
    const std::size_t count = words.size();
    Client_mode mode{};
    std::chrono::milliseconds delay{};
    if (words[1] == "add")
    {
        if (!parse_mode(words, 3, mode, delay, error))
        {
            return false;
        }
        m_vm.client_add(words[2], mode, delay);
        return true;
    }
    if (count == 3 && words[1] == "remove")
    {
        return m_vm.client_remove(words[2], error);
    }
    if (count == 4 && words[1] == "raw")
    {
        return m_vm.raw_client_add(words[2], words[3], error);
    }
    return parse_mode(words, 2, mode, delay, error) && m_vm.client_mode(words[1], mode, delay, error);
}

bool Scenario_runner::run_iam(const Command& /*command*/, const std::vector<std::string>& words, std::string& error)
{
    const std::size_t count = words.size();
    if (count == 3 && words[1] == "raw-size")
    {
        const auto size = words[2].find_first_not_of("0123456789") == std::string::npos && words[2].size() < 7
                              ? std::stoul(words[2])
                              : 0;
        if (size == 0 || size > 65536)
        {
            error = "usage: iam raw-size N (1..65536)";
            return false;
        }
        return m_vm.iam_request({"--raw", std::string(size, 'x')}, error);
    }
    if (count >= 3 && words[1] == "burst")
    {
        const auto burst = words[2].find_first_not_of("0123456789") == std::string::npos && words[2].size() < 4
                               ? std::stoul(words[2])
                               : 0;
        if (burst == 0 || burst > 500 || count < 4)
        {
            error = "usage: iam burst N (1..500) REQUEST...";
            return false;
        }
        return m_vm.iam_burst(burst, std::vector<std::string>(words.begin() + 3, words.end()), error);
    }
    return m_vm.iam_request(std::vector<std::string>(words.begin() + 1, words.end()), error);
}

bool Scenario_runner::run_signal(const Command& command, const std::vector<std::string>& words, std::string& error)
{
    static const std::pair<const char*, int> s_signals[] = {
        {"TERM", SIGTERM}, {"INT", SIGINT}, {"ABRT", SIGABRT}, {"KILL", SIGKILL}};
    for (const auto& [signal_name, number] : s_signals)
    {
        if (words[1] == signal_name)
        {
            return m_vm.signal_statewarden(number, error);
        }
    }
    return refuse(command, error);
}

bool Scenario_runner::run_stop(const Command& /*command*/,
                               const std::vector<std::string>& /*words*/,
                               std::string& /*error*/)
{
    m_vm.stop();
    return true;
}

bool Scenario_runner::run_expect(const Command& /*command*/, const std::vector<std::string>& words, std::string& error)
{
    if (words.size() > 1 && words[1] == "json")
    {
        return expect_json(words, error);
    }
    return expect(words, error);
}

bool Scenario_runner::run_skip(const Command& command, const std::vector<std::string>& words, std::string& error)
{
    // skip if KIND TEXT: ends the scenario as skipped when such an event has arrived at all
    // (e.g. a placeholder's announcement: the part the scenario needs is not built yet).
    if (words[1] != "if")
    {
        return refuse(command, error);
    }
    if (m_journal.seen(words[2], words[3]))
    {
        m_skip_reason = words[2] + " event containing \"" + words[3] + "\" seen";
        return false;
    }
    return true;
}

bool Scenario_runner::run_wait(const Command& command, const std::vector<std::string>& words, std::string& error)
{
    const auto delay = parse_duration(words[1]);
    if (!delay)
    {
        return refuse(command, error);
    }
    std::this_thread::sleep_for(*delay);
    return true;
}

bool Scenario_runner::run_echo(const Command& /*command*/,
                               const std::vector<std::string>& words,
                               std::string& /*error*/)
{
    std::string text;
    for (std::size_t i = 1; i < words.size(); ++i)
    {
        text += (i > 1 ? " " : "") + words[i];
    }
    m_journal.add("sim", text);
    return true;
}

bool Scenario_runner::run_ctl(const Command& /*command*/, const std::vector<std::string>& words, std::string& error)
{
    std::vector<std::string> arguments;
    for (std::size_t i = 1; i < words.size(); ++i)
    {
        // Files named in the scenario are taken from its folder, like configurations.
        arguments.push_back(i > 1 && words[i - 1] == "--svg" ? path_of(words[i]) : words[i]);
    }
    int status = 0;
    std::string output;
    if (!m_vm.run_ctl(arguments, status, output, error))
    {
        return false;
    }
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line))
    {
        m_journal.add("ctl", line);
    }
    m_journal.add("ctl", "exit " + std::to_string(status));
    return true;
}

bool Scenario_runner::expect_json(const std::vector<std::string>& words, std::string& error)
{
    // expect json SUBCOMMAND PATH VALUE [within DELAY]
    const char* const usage = "usage: expect json status|history PATH VALUE [within DELAY]";
    if ((words.size() != 5 && words.size() != 7) || (words[2] != "status" && words[2] != "history") ||
        (words.size() == 7 && words[5] != "within"))
    {
        error = usage;
        return false;
    }
    std::chrono::milliseconds delay = s_default_within;
    if (words.size() == 7)
    {
        const auto parsed = parse_duration(words[6]);
        if (!parsed)
        {
            error = "bad delay " + words[6];
            return false;
        }
        delay = *parsed;
    }
    const auto deadline = std::chrono::steady_clock::now() + delay;
    std::string last;
    for (;;)
    {
        int status = 0;
        std::string output;
        if (!m_vm.run_ctl({words[2], "--json"}, status, output, error))
        {
            return false;
        }
        if (status != 0)
        {
            last = "statewarden_ctl exited with " + std::to_string(status) + ": " + output;
        }
        else if (!nlohmann::json::accept(output))
        {
            last = "not JSON: " + output;
        }
        else
        {
            const auto value = json_at(nlohmann::json::parse(output), words[3]);
            if (value && json_matches(*value, words[4]))
            {
                return true;
            }
            last = value ? "value " + value->dump() : "nothing at " + words[3];
        }
        if (std::chrono::steady_clock::now() + s_json_retry > deadline)
        {
            break;
        }
        std::this_thread::sleep_for(s_json_retry);
    }
    while (!last.empty() && last.back() == '\n')
    {
        last.pop_back();
    }
    error = words[3] + " of " + words[2] + " is not " + words[4] + " within " + std::to_string(delay.count()) +
            " ms (" + last + ")";
    return false;
}

bool Scenario_runner::expect(const std::vector<std::string>& words, std::string& error)
{
    // expect KIND TEXT [within DELAY] | expect no KIND TEXT for DELAY | expect seen KIND TEXT [within DELAY]
    const bool negative = words.size() > 1 && words[1] == "no";
    const bool anywhere = words.size() > 1 && words[1] == "seen";
    const std::size_t first = negative || anywhere ? 2 : 1;
    if (words.size() < first + 2)
    {
        error = "usage: expect KIND TEXT [within DELAY] | expect no KIND TEXT for DELAY";
        return false;
    }
    const std::string& kind = words[first];
    const std::string& text = words[first + 1];
    std::chrono::milliseconds delay = s_default_within;
    if (words.size() == first + 4 && words[first + 2] == (negative ? "for" : "within"))
    {
        const auto parsed = parse_duration(words[first + 3]);
        if (!parsed)
        {
            error = "bad delay " + words[first + 3];
            return false;
        }
        delay = *parsed;
    }
    else if (words.size() != first + 2 || negative)
    {
        error = negative ? "usage: expect no KIND TEXT for DELAY" : "usage: expect KIND TEXT [within DELAY]";
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + delay;
    if (negative)
    {
        if (!m_journal.expect_none(kind, text, deadline))
        {
            error = "unexpected " + kind + " event containing \"" + text + "\"";
            return false;
        }
        return true;
    }
    if (anywhere)
    {
        if (!m_journal.wait_seen(kind, text, deadline))
        {
            error = "no " + kind + " event containing \"" + text + "\" at all";
            return false;
        }
        return true;
    }
    if (!m_journal.expect(kind, text, deadline))
    {
        std::ostringstream message;
        message << "no " << kind << " event containing \"" << text << "\" within " << delay.count() << " ms";
        const auto latest = m_journal.latest(kind);
        if (latest)
        {
            message << " (newest " << kind << ": " << *latest << ")";
        }
        error = message.str();
        return false;
    }
    return true;
}

} // namespace tarn1::simulator
