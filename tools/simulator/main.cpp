// tarn1_sim: runs Statewarden and tarn1_iam_daemon unchanged in a simulated virtual machine.
//
//   tarn1_sim [options]                     interactive console
//   tarn1_sim [options] --script FILE       runs a scenario; exit status 0 passed, 1 failed, 2 usage,
//                                           77 skipped (a "skip if" line matched)
//   tarn1_sim --app-call VERB SERVICE ...   (the simulator itself, run as an application of another
//                                           user: one request, its outcome as an "app" line)
//
// The simulator starts itself again inside a private mount and UTS namespace (as root with
// unshare, otherwise in a user namespace as well) whose fixed paths (/etc/adaptive, /dev/input,
// /sys/vmctl, /run/adaptive, /var/run/adaptive) are empty folders of its own, so nothing on the
// machine changes. See docs/simulator.md.

#include "tools/simulator/console_model.hpp"
#include "tools/simulator/journal.hpp"
#include "tools/simulator/keyboard_choice.hpp"
#include "tools/simulator/run_log.hpp"
#include "tools/simulator/scenario_runner.hpp"
#include "tools/simulator/vm.hpp"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{

using tarn1::simulator::Journal;

const char* const s_inside_variable = "TARN1_SIM_INSIDE";
// Always names the discovery folder of the newest run (a link).
const char* const s_latest_com_dir = "/tmp/tarn1_sim_com";

const char* const s_usage =
    "usage: tarn1_sim [--script FILE] [--config FILE] [--log FILE] [--keyboard fifo|uinput|auto] [--verbose]\n"
    "                 [--access enforce|audit|off]\n"
    "                 [--statewarden PATH] [--iam-daemon PATH] [--iam-client PATH] [--preload PATH]\n"
    "                 [--alias-rules PATH] [--policy PATH] [--vm-paths PATH] [--ctl PATH]\n"
    "Without --script: an interactive console (type help). Defaults are taken next to this program\n"
    "(bin/ and ../share/tarn1, ../lib of an installed tree). Without --log each run logs to a file of\n"
    "its own, /tmp/tarn1_sim.<start>.<pid>.log, and /tmp/tarn1_sim.log links to the newest;\n"
    "tarn1_sim_log (tools/sim_log.sh) follows it.\n";

// Run logs kept in /tmp: the newest ones, older ones are removed when a run starts.
constexpr std::size_t s_kept_run_logs = 20;

std::string directory_of(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string absolute(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

bool exists(const std::string& path)
{
    struct stat info
    {
    };
    return ::stat(path.c_str(), &info) == 0;
}

std::string self_path()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
}

std::string timestamp(const std::chrono::steady_clock::time_point& /*unused*/)
{
    timeval now{};
    ::gettimeofday(&now, nullptr);
    tm local{};
    ::localtime_r(&now.tv_sec, &local);
    std::ostringstream text;
    text << std::put_time(&local, "%H:%M:%S") << "." << std::setw(3) << std::setfill('0') << now.tv_usec / 1000;
    return text.str();
}

std::size_t terminal_width()
{
    winsize size{};
    return ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20 ? size.ws_col : 100;
}

/// Redraws the whole screen. Called with the screen mutex held.
void draw(const tarn1::simulator::Console_model& screen, const std::string& input)
{
    const std::string text = "\x1b[H\x1b[2J" + screen.render(terminal_width(), input);
    (void)!::write(STDOUT_FILENO, text.data(), text.size());
}

/// Console on a terminal: single keys for the hypervisor, ':' for a command line.
void run_console(tarn1::simulator::Scenario_runner& runner,
                 tarn1::simulator::Console_model& screen,
                 std::mutex& screen_mutex,
                 std::string& input)
{
    termios saved{};
    ::tcgetattr(STDIN_FILENO, &saved);
    termios raw = saved;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    const auto redraw = [&]
    {
        std::lock_guard<std::mutex> lock(screen_mutex);
        draw(screen, input);
    };
    const auto show = [&](const std::string& text)
    {
        std::lock_guard<std::mutex> lock(screen_mutex);
        draw(screen, input);
        (void)!::write(STDOUT_FILENO, text.data(), text.size());
    };
    redraw();
    bool typing = false;
    std::string line;
    char key = 0;
    while (::read(STDIN_FILENO, &key, 1) == 1)
    {
        if (typing)
        {
            if (key == '\n' || key == '\r')
            {
                typing = false;
                {
                    std::lock_guard<std::mutex> lock(screen_mutex);
                    line = input.substr(1);
                    input.clear();
                }
                std::string error;
                if (line == "help")
                {
                    show(std::string("\n") + tarn1::simulator::help_text());
                }
                else if (!runner.execute(line, error))
                {
                    show("\nerror: " + error + "\n");
                }
                else
                {
                    redraw();
                }
                continue;
            }
            {
                std::lock_guard<std::mutex> lock(screen_mutex);
                if (key == 0x7F || key == '\b')
                {
                    if (input.size() > 1)
                    {
                        input.pop_back();
                    }
                }
                else if (key == 0x1B)
                {
                    input.clear();
                    typing = false;
                }
                else if (key >= ' ')
                {
                    input += key;
                }
            }
            redraw();
            continue;
        }
        const auto& keys = tarn1::simulator::console_keys();
        const auto pressed = keys.find(static_cast<char>(std::tolower(static_cast<unsigned char>(key))));
        std::string error;
        if (pressed != keys.end())
        {
            if (!runner.execute(pressed->second, error))
            {
                show("\nerror: " + error + "\n");
            }
        }
        else if (key == ':')
        {
            typing = true;
            {
                std::lock_guard<std::mutex> lock(screen_mutex);
                input = " ";
            }
            redraw();
        }
        else if (key == 'h' || key == '?')
        {
            show(std::string("\n") + tarn1::simulator::help_text());
        }
        else if (key == 'q')
        {
            break;
        }
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    std::cout << "\n";
}

/// Console without a terminal (or with --verbose): one command per line, events printed as they come.
void run_lines(tarn1::simulator::Scenario_runner& runner)
{
    std::cout << "keys: n s p r = hypervisor N S P R, o = power key, a / w = network asleep / active, q = quit;\n"
                 "      help lists the commands and their short forms (e+ = request ecualive, ...)\n";
    std::string line;
    while (std::getline(std::cin, line))
    {
        if (line == "q" || line == "quit")
        {
            break;
        }
        if (line == "help")
        {
            std::cout << tarn1::simulator::help_text();
            continue;
        }
        std::string error;
        const auto& keys = tarn1::simulator::console_keys();
        const auto key = line.size() == 1 ? keys.find(line[0]) : keys.end();
        if (!runner.execute(key != keys.end() ? key->second : line, error))
        {
            std::cout << "error: " << error << std::endl;
        }
    }
}

// The environment and std::system are touched only before any thread of this process starts (the
// outer process never starts one; the inner one sets its environment before the middleware runs).
// NOLINTBEGIN(concurrency-mt-unsafe)
int run_outside(std::map<std::string, std::string>& options, const std::vector<std::string>& arguments)
{
    std::vector<std::string> command{"unshare", "--mount", "--uts", "--propagation", "private"};
    if (::geteuid() != 0)
    {
        command.insert(command.begin() + 1, {"--user", "--map-root-user"});
    }
    std::string probe;
    for (const auto& word : command)
    {
        probe += word + " ";
    }
    if (std::system((probe + "true >/dev/null 2>&1").c_str()) != 0)
    {
        std::cerr
            << "tarn1_sim: cannot create a private mount namespace here (" << probe << "failed).\n"
            << "    Run as root, or allow unprivileged user namespaces\n"
            << "    (sysctl kernel.unprivileged_userns_clone=1 or kernel.apparmor_restrict_unprivileged_userns=0).\n";
        return 2;
    }
    command.push_back(options["--vm-paths"]);
    command.push_back(options["--config"]);
    command.push_back(self_path());
    command.insert(command.end(), arguments.begin(), arguments.end());
    for (const auto& [name, value] : options)
    {
        command.push_back(name);
        command.push_back(value);
    }
    ::setenv(s_inside_variable, "1", 1);
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (auto& word : command)
    {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    std::cerr << "tarn1_sim: cannot run unshare: " << std::error_code(errno, std::system_category()).message() << "\n";
    return 2;
}

int run_inside(std::map<std::string, std::string>& options, bool verbose)
{
    // The middleware's discovery folder of this run: outside the namespace, so that com_tool can
    // watch from another terminal; a folder given in TARN1_COM_DIR is used as it is.
    std::string com_dir;
    const char* given_com_dir = std::getenv("TARN1_COM_DIR");
    if (given_com_dir == nullptr)
    {
        char folder[] = "/tmp/tarn1_sim_com.XXXXXX";
        if (::mkdtemp(folder) == nullptr)
        {
            std::cerr << "tarn1_sim: cannot make the discovery folder in /tmp\n";
            return 2;
        }
        com_dir = folder;
        // Applications of other users offer and find services here too.
        ::chmod(folder, 01777);
        ::setenv("TARN1_COM_DIR", folder, 1);
        // One name for the newest interactive run's folder, for tools in another terminal.
        std::string warning;
        if (options["--script"].empty() && !tarn1::simulator::point_link(folder, s_latest_com_dir, warning))
        {
            std::cerr << "tarn1_sim: " << warning << "\n";
        }
    }
    const struct Com_dir_remover
    {
        std::string path;
        ~Com_dir_remover()
        {
            std::error_code ignored;
            if (!path.empty())
            {
                std::filesystem::remove_all(path, ignored);
            }
        }
    } com_dir_remover{com_dir};
    ::setenv("TARN1_COM_CALL_TIMEOUT_MS", "3000", 0);
    // The simulator's own services (the UDP NM) and applications are checked like everyone's.
    if (options["--access"] != "off")
    {
        ::setenv("TARN1_COM_IAM_SOCKET", tarn1::simulator::Vm::s_iam_socket, 1);
        ::setenv("TARN1_COM_IAM_MODE", options["--access"].c_str(), 1);
    }
    else
    {
        ::unsetenv("TARN1_COM_IAM_SOCKET");
    }
    // The daemons log each cycle at verbose and debug level; ARA_LOG_LEVEL=debug shows those too.
    ::setenv("ARA_LOG_LEVEL", "info", 0);

    std::ofstream log(options["--log"], std::ios::trunc);
    const bool interactive = options["--script"].empty();
    const bool full_screen = interactive && !verbose && ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
    // Guards the console model and the typed input; met by the journal's adders and the console.
    std::mutex screen_mutex;
    tarn1::simulator::Console_model screen;
    std::string input;
    Journal journal;
    journal.set_listener(
        [&](const tarn1::simulator::Event& event)
        {
            const std::string line = timestamp(event.time) + " " + event.kind + " " + event.text;
            log << line << "\n";
            log.flush();
            if (full_screen && event.kind != "log" && event.kind != "iamlog")
            {
                std::lock_guard<std::mutex> lock(screen_mutex);
                screen.on_event(event);
                draw(screen, input);
            }
            else if (!full_screen && (verbose || (interactive && event.kind != "log" && event.kind != "iamlog")))
            {
                std::cout << line << std::endl;
            }
        });
    if (interactive)
    {
        // statewarden_ctl follows the link; com_tool takes the folder itself.
        const std::string folder = std::getenv("TARN1_COM_DIR");
        const std::string com = com_dir.empty() ? folder : s_latest_com_dir;
        journal.add("sim", "com " + com);
        std::cout << "tarn1 simulator: all logs in " << options["--log"] << " (tarn1_sim_log follows it);\n"
                  << "    who keeps it awake: TARN1_COM_DIR=" << com << " statewarden_ctl status\n"
                  << "    services: TARN1_COM_DIR=" << folder << " com_tool list\n";
    }

    // vm_paths.sh keeps the machine's own /sys and /dev reachable and says where.
    const char* const host_dev_variable = std::getenv("TARN1_HOST_DEV");
    const char* const host_sys_variable = std::getenv("TARN1_HOST_SYS");
    const std::string host_dev = host_dev_variable != nullptr ? host_dev_variable : "";
    const std::string host_sys = host_sys_variable != nullptr ? host_sys_variable : "";
    tarn1::simulator::Keyboard_places keyboard_places;
    keyboard_places.host_dev = host_dev;
    const tarn1::simulator::Vm_options vm_options{options["--statewarden"],
                                                  options["--iam-daemon"],
                                                  options["--iam-client"],
                                                  options["--preload"],
                                                  options["--alias-rules"],
                                                  options["--policy"],
                                                  self_path(),
                                                  options["--access"],
                                                  options["--ctl"],
                                                  tarn1::simulator::parse_keyboard_request(options["--keyboard"])
                                                      .value_or(tarn1::simulator::Keyboard_request::automatic),
                                                  keyboard_places,
                                                  tarn1::uinput::Device_places{host_sys, host_dev}};
    // NOLINTEND(concurrency-mt-unsafe)
    journal.add("sim", "log " + options["--log"]);
    tarn1::simulator::Vm vm(vm_options, journal);
    std::string error;
    if (!vm.set_hostname("tarn1-emu", error))
    {
        journal.add("sim", error);
    }

    if (!interactive)
    {
        const std::string& script = options["--script"];
        std::ifstream in(script);
        if (!in)
        {
            std::cerr << "tarn1_sim: cannot read " << script << "\n";
            return 2;
        }
        tarn1::simulator::Scenario_runner runner(vm, journal, directory_of(script));
        using Outcome = tarn1::simulator::Scenario_runner::Outcome;
        const Outcome outcome = runner.run(in, script, std::cerr);
        vm.stop();
        static const char* const s_words[] = {" passed", " FAILED", " skipped"};
        std::cerr << "tarn1_sim: " << script << s_words[static_cast<int>(outcome)] << " (log: " << options["--log"]
                  << ")\n";
        // 77: the exit status that test runners (ctest's SKIP_RETURN_CODE, automake) take for "skipped".
        return outcome == Outcome::passed ? 0 : outcome == Outcome::skipped ? 77 : 1;
    }

    tarn1::simulator::Scenario_runner runner(vm, journal, ".");
    if (!runner.execute("nm offer", error) || !runner.execute("start", error))
    {
        std::cerr << "tarn1_sim: " << error << "\n";
        return 1;
    }
    if (::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO) && !verbose)
    {
        run_console(runner, screen, screen_mutex, input);
    }
    else
    {
        run_lines(runner);
    }
    vm.stop();
    std::cout << "tarn1_sim: the log of this run is " << options["--log"] << "\n";
    return 0;
}

/// The simulator run as an application of another user: one request through the middleware; its
/// outcome is printed as an "app" line for the simulator that started it.
int run_app_call(int argc, char** argv)
{
    Journal journal;
    journal.set_listener(
        [](const tarn1::simulator::Event& event)
        {
            if (event.kind == "app")
            {
                std::cout << "app " << event.text << std::endl;
            }
        });
    tarn1::simulator::Vm vm(tarn1::simulator::Vm_options{}, journal);
    std::string error;
    if (argc < 4 || !vm.app_call(argv[2], argv[3], std::vector<std::string>(argv + 4, argv + argc), error))
    {
        std::cout << "app " << (argc >= 4 ? std::string(argv[2]) + " " + argv[3] + ": " + error : "usage") << std::endl;
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--app-call") == 0)
    {
        return run_app_call(argc, argv);
    }
    std::map<std::string, std::string> options;
    bool verbose = false;
    std::vector<std::string> flags;
    static const char* const s_valued[] = {"--script",
                                           "--config",
                                           "--log",
                                           "--keyboard",
                                           "--statewarden",
                                           "--iam-daemon",
                                           "--iam-client",
                                           "--preload",
                                           "--alias-rules",
                                           "--policy",
                                           "--vm-paths",
                                           "--access",
                                           "--ctl"};
    for (int i = 1; i < argc; ++i)
    {
        const std::string argument = argv[i];
        if (argument == "--verbose")
        {
            verbose = true;
            flags.push_back(argument);
            continue;
        }
        if (argument == "--help" || argument == "-h")
        {
            std::cout << s_usage << tarn1::simulator::help_text();
            return 0;
        }
        bool known = false;
        for (const char* name : s_valued)
        {
            if (argument == name && i + 1 < argc)
            {
                options[argument] = argv[++i];
                known = true;
            }
        }
        if (!known)
        {
            std::cerr << "tarn1_sim: unknown argument " << argument << "\n" << s_usage;
            return 2;
        }
    }

    // Still single-threaded here.
    // NOLINTBEGIN(concurrency-mt-unsafe)
    if (std::getenv(s_inside_variable) != nullptr)
    {
        ::unsetenv(s_inside_variable);
        return run_inside(options, verbose);
    }
    // NOLINTEND(concurrency-mt-unsafe)

    // Defaults next to this program: an installed tree (bin/, lib/, share/tarn1/).
    const std::string bin = directory_of(self_path());
    const std::string share = bin + "/../share/tarn1";
    const std::map<std::string, std::string> defaults{
        {"--config", share + "/statewarden.json"},
        {"--keyboard", "auto"},
        {"--access", "enforce"},
        {"--statewarden", bin + "/Statewarden"},
        {"--iam-daemon", bin + "/tarn1_iam_daemon"},
        {"--iam-client", bin + "/iam_client"},
        {"--preload", bin + "/../lib/libtarn1_evdev_standin.so"},
        {"--alias-rules", share + "/alias_rules.conf"},
        {"--policy", share + "/policy.conf"},
        {"--ctl", bin + "/statewarden_ctl"},
        {"--vm-paths", exists(share + "/vm_paths.sh") ? share + "/vm_paths.sh" : TARN1_SIM_VM_PATHS},
    };
    for (const auto& [name, value] : defaults)
    {
        options.emplace(name, value);
    }
    for (auto& [name, value] : options)
    {
        // The preload value may be a list (the sanitizer runtime in front).
        if (name == "--log" || name == "--keyboard" || name == "--access" ||
            (name == "--preload" && value.find(':') != std::string::npos))
        {
            continue;
        }
        // Without statewarden_ctl the machine runs all the same; only its commands fail.
        if (!exists(value) && name != "--ctl")
        {
            std::cerr << "tarn1_sim: " << value << " (" << name << ") does not exist\n";
            return 2;
        }
        value = absolute(value);
    }
    if (options["--access"] != "enforce" && options["--access"] != "audit" && options["--access"] != "off")
    {
        std::cerr << "tarn1_sim: --access takes enforce, audit or off, not " << options["--access"] << "\n";
        return 2;
    }
    if (!tarn1::simulator::parse_keyboard_request(options["--keyboard"]))
    {
        std::cerr << "tarn1_sim: --keyboard takes fifo, uinput or auto, not " << options["--keyboard"] << "\n";
        return 2;
    }
    if (options.count("--log") == 0)
    {
        tarn1::simulator::prune_run_logs("/tmp", s_kept_run_logs - 1);
        const auto run_log = tarn1::simulator::run_log_in("/tmp", std::time(nullptr), ::getpid());
        std::string error;
        std::string warning;
        if (!tarn1::simulator::start_run_log(run_log, error, warning))
        {
            std::cerr << "tarn1_sim: " << error << "\n";
            return 2;
        }
        if (!warning.empty())
        {
            std::cerr << "tarn1_sim: " << warning << "\n";
        }
        options["--log"] = run_log.file;
    }
    else if (!options["--log"].empty() && options["--log"][0] != '/')
    {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) != nullptr)
        {
            options["--log"] = std::string(cwd) + "/" + options["--log"];
        }
    }
    return run_outside(options, flags);
}
