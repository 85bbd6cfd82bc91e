#include "tools/simulator/vm.hpp"

#include "client_state_notifier/component_client.hpp"
#include "kest/com/cpp_binding/service_finder.h"
#include "kest/com/runtime/component_singleton.h"
#include "statemanager/proxy/dsa_interface_proxy.hpp"
#include "statemanager/proxy/state_management_alive_interface_proxy.hpp"
#include "statemanager/proxy/state_management_com_alive_interface_proxy.hpp"
#include "statemanager/proxy/state_management_cwu_interface_proxy.hpp"
#include "statemanager/proxy/state_management_status_interface_proxy.hpp"
#include "testbed/nm_standin/recording_nm_services.hpp"
#include "tools/simulator/scenario_line.hpp"
#include "tools/simulator/word_splitter.hpp"
#include "tools/statewarden_ctl/status_text.hpp"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <linux/input.h>
#include <optional>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace tarn1::simulator
{

namespace
{

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

const char* const s_input_device = "/dev/input/event0";
const char* const s_status_file = "/sys/vmctl/set_status";
const char* const s_command_file = "/sys/vmctl/command_request";
const char* const s_poweroff_pipe = "/run/adaptive/poweroff";
const char* const s_config_dir = "/etc/adaptive";
const char* const s_nm_instance = "UdpNm";

std::string system_error(const std::string& context)
{
    return context + ": " + std::error_code(errno, std::system_category()).message();
}

} // namespace

/// One daemon started by the simulator: its standard error becomes "log" events, its end an
/// "exit" event ("Statewarden 0", "Statewarden signal 9").
class Child_process final
{
  public:
    Child_process(std::string name, std::string log_kind, Journal& journal)
        : m_name(std::move(name))
        , m_log_kind(std::move(log_kind))
        , m_journal(journal)
    {
    }

    ~Child_process()
    {
        if (m_reader.joinable())
        {
            m_reader.join();
        }
        if (m_waiter.joinable())
        {
            m_waiter.join();
        }
    }

    Child_process(const Child_process&) = delete;
    Child_process& operator=(const Child_process&) = delete;

    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& environment, std::string& error)
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
        {
            error = system_error("pipe");
            return false;
        }
        std::vector<char*> args;
        args.reserve(argv.size() + 1);
        for (const auto& arg : argv)
        {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        // Everything the child needs is made before the fork: between fork and exec only
        // async-signal-safe calls are allowed in a process with threads.
        std::vector<std::string> variables = environment;
        for (char** variable = environ; *variable != nullptr; ++variable)
        {
            const std::string entry(*variable);
            const std::string name = entry.substr(0, entry.find('=') + 1);
            bool replaced = false;
            for (const auto& own : environment)
            {
                replaced = replaced || own.compare(0, name.size(), name) == 0;
            }
            if (!replaced)
            {
                variables.push_back(entry);
            }
        }
        std::vector<char*> envp;
        envp.reserve(variables.size() + 1);
        for (auto& variable : variables)
        {
            envp.push_back(variable.data());
        }
        envp.push_back(nullptr);
        const std::string failure = "cannot start " + argv[0] + "\n";
        const pid_t pid = ::fork();
        if (pid < 0)
        {
            error = system_error("fork");
            return false;
        }
        if (pid == 0)
        {
            ::dup2(ends[1], STDERR_FILENO);
            ::dup2(ends[1], STDOUT_FILENO);
            const int null = ::open("/dev/null", O_RDONLY);
            ::dup2(null, STDIN_FILENO);
            ::execve(args[0], args.data(), envp.data());
            (void)!::write(STDERR_FILENO, failure.data(), failure.size());
            ::_exit(127);
        }
        ::close(ends[1]);
        m_pid = pid;
        m_journal.add("sim", "started " + m_name + " (pid " + std::to_string(pid) + ")");
        m_reader = std::thread([this, fd = ends[0]] { read_output(fd); });
        m_waiter = std::thread([this] { wait_for_end(); });
        return true;
    }

    bool running() const { return !m_ended.load(); }

    bool signal(int signal_number) const { return !m_ended.load() && ::kill(m_pid, signal_number) == 0; }

    /// SIGTERM, then SIGKILL when it has not ended within grace.
    void stop(std::chrono::milliseconds grace)
    {
        if (m_pid <= 0)
        {
            return;
        }
        signal(SIGTERM);
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_ended_changed.wait_for(lock, grace, [this] { return m_ended.load(); }))
        {
            m_journal.add("sim", m_name + " did not end within " + std::to_string(grace.count()) + " ms: SIGKILL");
            ::kill(m_pid, SIGKILL);
        }
    }

  private:
    void read_output(int fd)
    {
        std::string pending;
        char buffer[4096];
        for (;;)
        {
            const ssize_t count = ::read(fd, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR)
            {
                continue;
            }
            if (count <= 0)
            {
                break;
            }
            pending.append(buffer, static_cast<std::size_t>(count));
            std::size_t end;
            while ((end = pending.find('\n')) != std::string::npos)
            {
                m_journal.add(m_log_kind, pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
        if (!pending.empty())
        {
            m_journal.add(m_log_kind, pending);
        }
        ::close(fd);
    }

    void wait_for_end()
    {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR)
        {
        }
        const std::string how =
            WIFEXITED(status) ? std::to_string(WEXITSTATUS(status)) : "signal " + std::to_string(WTERMSIG(status));
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ended = true;
        }
        m_ended_changed.notify_all();
        m_journal.add("exit", m_name + " " + how);
    }

    std::string m_name;
    std::string m_log_kind;
    Journal& m_journal;
    pid_t m_pid{-1};
    std::atomic<bool> m_ended{false};
    // Guards the end notification; met by the waiter thread and the stopping thread.
    std::mutex m_mutex;
    std::condition_variable m_ended_changed;
    std::thread m_reader;
    std::thread m_waiter;
};

namespace
{

template <typename Proxy>
std::unique_ptr<Proxy> find_proxy(const std::string& instance, std::chrono::milliseconds timeout)
{
    kest::com::cpp_binding::Service_finder finder;
    std::mutex mutex;
    std::condition_variable found_changed;
    std::optional<kest::com::cpp_binding::Service_handle> found;
    const auto search = finder.start_find_service(
        [&](std::vector<kest::com::cpp_binding::Service_handle> handles)
        {
            if (!handles.empty())
            {
                std::lock_guard<std::mutex> lock(mutex);
                found = handles.front();
                found_changed.notify_all();
            }
        },
        vela::com::runtime::Service_id(Proxy::service_identifier()),
        vela::com::runtime::Instance_id(instance));
    {
        std::unique_lock<std::mutex> lock(mutex);
        found_changed.wait_for(lock, timeout, [&] { return found.has_value(); });
    }
    finder.stop_find_service(search);
    if (!found)
    {
        return nullptr;
    }
    return std::make_unique<Proxy>(*found);
}

bool parse_u8(const std::string& text, std::uint8_t& value)
{
    try
    {
        std::size_t used = 0;
        const unsigned long number = std::stoul(text, &used, 0);
        if (used != text.size() || number > 255)
        {
            return false;
        }
        value = static_cast<std::uint8_t>(number);
        return true;
    }
    catch (const std::exception&)
    {
        return false;
    }
}

} // namespace

class Nm_simulator final
{
  public:
    explicit Nm_simulator(Journal& journal)
        : m_network_state(s_nm_instance, [&journal](const std::string& line) { journal.add("nm", line); })
        , m_user_data(s_nm_instance, [&journal](const std::string& line) { journal.add("nm", line); })
    {
    }

    void offer(const Bytes& state)
    {
        m_network_state.NetworkState.Update(state);
        m_network_state.OfferService();
        m_user_data.OfferService();
    }

    void update(const Bytes& state) { m_network_state.NetworkState.Update(state); }

  private:
    nm_standin::Recording_network_state m_network_state;
    nm_standin::Recording_user_data m_user_data;
};

/// Follows the daemon's status service: each state change becomes a "report" event, the clients
/// of its notification round a "round" event ("name (group) answer latency | ..."), and the
/// holders a "holders" event ("none", or "kind instance ... | ...") after every state change and
/// every application request.
class Status_follower final
{
  public:
    explicit Status_follower(Journal& journal)
        : m_journal(journal)
    {
        using vela::ap::statemanager::proxy::StateManagementStatusInterfaceProxy;
        m_search = m_finder.start_find_service(
            [this](std::vector<kest::com::cpp_binding::Service_handle> handles) { on_found(handles); },
            vela::com::runtime::Service_id(StateManagementStatusInterfaceProxy::service_identifier()),
            vela::com::runtime::Instance_id(vela::ap::statemanager::StateManagementStatusInterface::instance()));
    }

    ~Status_follower()
    {
        // Once the search has stopped nothing makes a proxy any more; its destructor waits for a
        // receive handler that runs.
        m_finder.stop_find_service(m_search);
        m_proxy.reset();
    }

    Status_follower(const Status_follower&) = delete;
    Status_follower& operator=(const Status_follower&) = delete;

    /// Asks for the holders; the answer becomes a "holders" event. Runner thread.
    void refresh()
    {
        Proxy* proxy = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            proxy = m_proxy.get();
        }
        if (proxy != nullptr)
        {
            ask_holders(*proxy);
        }
    }

  private:
    using Proxy = vela::ap::statemanager::proxy::StateManagementStatusInterfaceProxy;

    /// The search's handler (a middleware worker): the first offer found makes the proxy, which
    /// follows the service from then on, also across a restart of the daemon.
    void on_found(const std::vector<kest::com::cpp_binding::Service_handle>& handles)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (handles.empty() || m_proxy)
        {
            return;
        }
        m_proxy = std::make_unique<Proxy>(handles.front());
        Proxy* proxy = m_proxy.get();
        proxy->TransitionReport.SetReceiveHandler([this, proxy] { on_reports(*proxy); });
        proxy->TransitionReport.Subscribe(16);
        ask_holders(*proxy);
    }

    /// The report's receive handler (a middleware worker).
    void on_reports(Proxy& proxy)
    {
        proxy.TransitionReport.Update();
        for (const auto& report : proxy.TransitionReport.GetCachedSamples())
        {
            m_journal.add("report", tarn1::statewarden_ctl::watch_line(report));
            const auto lines = tarn1::statewarden_ctl::client_lines(report);
            if (!lines.empty())
            {
                m_journal.add("round", joined(lines));
            }
        }
        proxy.TransitionReport.Cleanup();
        ask_holders(proxy);
    }

    /// The answer comes on whichever thread completes the call, without anyone waiting for it.
    void ask_holders(Proxy& proxy)
    {
        try
        {
            proxy.GetHolders().then(
                [this](vela::com::Future<vela::ap::statemanager::status::Holders_reply> done)
                {
                    try
                    {
                        const auto lines = tarn1::statewarden_ctl::holder_lines(done.get());
                        m_journal.add("holders", lines.empty() ? std::string("none") : joined(lines));
                    }
                    catch (const std::exception&)
                    {
                        // The daemon went away meanwhile; the next change asks again.
                    }
                });
        }
        catch (const std::exception&)
        {
        }
    }

    static std::string joined(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const auto& line : lines)
        {
            text += (text.empty() ? "" : " | ") + line;
        }
        return text;
    }

    Journal& m_journal;
    kest::com::cpp_binding::Service_finder m_finder;
    kest::com::cpp_binding::Find_service_handle m_search;
    // Guards m_proxy while the search's handler may make it: met by that handler (a middleware
    // worker) and the runner thread.
    std::mutex m_mutex;
    std::unique_ptr<Proxy> m_proxy;
};

/// A notification client on the client library; answers as its mode says.
class Sim_client final
{
  public:
    Sim_client(const std::string& name, Client_mode mode, std::chrono::milliseconds delay, Journal& journal)
        : m_name(name)
        , m_journal(journal)
        , m_mode(mode)
        , m_delay(delay)
    {
        m_client = std::make_unique<client_state_notifier::Component_client>(
            name, [this](const std::string& requested) { return handle(requested); });
    }

    ~Sim_client()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_client.reset();
    }

    Sim_client(const Sim_client&) = delete;
    Sim_client& operator=(const Sim_client&) = delete;

    void set_mode(Client_mode mode, std::chrono::milliseconds delay)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_mode = mode;
        m_delay = delay;
    }

  private:
    client_state_notifier::State_change_answer handle(const std::string& requested)
    {
        using client_state_notifier::Component_client_return_type;
        m_journal.add("client", m_name + " got " + requested);
        std::unique_lock<std::mutex> lock(m_mutex);
        const Client_mode mode = m_mode;
        if (mode == Client_mode::never)
        {
            m_wake.wait(lock, [this] { return m_stopping; });
            return client_state_notifier::State_change_answer{m_state, Component_client_return_type::general_error};
        }
        if (mode == Client_mode::late && m_wake.wait_for(lock, m_delay, [this] { return m_stopping; }))
        {
            return client_state_notifier::State_change_answer{m_state, Component_client_return_type::general_error};
        }
        if (mode == Client_mode::error)
        {
            m_journal.add("client", m_name + " answered error");
            return client_state_notifier::State_change_answer{m_state, Component_client_return_type::general_error};
        }
        m_state = requested;
        m_journal.add("client", m_name + " answered " + requested);
        return client_state_notifier::State_change_answer{requested, Component_client_return_type::success};
    }

    std::string m_name;
    Journal& m_journal;
    // Guards mode, delay, state and the stop flag; met by the client's thread and the runner.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    Client_mode m_mode;
    std::chrono::milliseconds m_delay;
    std::string m_state{"kOn"};
    bool m_stopping{false};
    std::unique_ptr<client_state_notifier::Component_client> m_client;
};

Vm::Vm(Vm_options options, Journal& journal)
    : m_options(std::move(options))
    , m_journal(journal)
{
}

Vm::~Vm()
{
    stop();
}

bool Vm::set_config(const std::string& file, const std::string& name, std::string& error)
{
    if (name.empty() || name.find('/') != std::string::npos)
    {
        error = "bad configuration file name: " + name;
        return false;
    }
    const std::string target = std::string(s_config_dir) + "/" + name;
    if (file.empty())
    {
        if (::unlink(target.c_str()) != 0 && errno != ENOENT)
        {
            error = system_error("cannot remove " + target);
            return false;
        }
        return true;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in)
    {
        error = "cannot read " + file;
        return false;
    }
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    out << in.rdbuf();
    if (!out)
    {
        error = "cannot write " + target;
        return false;
    }
    m_journal.add("sim", "configuration " + file + " as " + target);
    return true;
}

bool Vm::set_hostname(const std::string& name, std::string& error)
{
    if (::sethostname(name.c_str(), name.size()) != 0)
    {
        error = system_error("sethostname " + name);
        return false;
    }
    m_journal.add("sim", "host name " + name);
    return true;
}

bool Vm::start(std::string& error)
{
    if (m_started)
    {
        error = "already started";
        return false;
    }
    if (!make_keyboard(error))
    {
        return false;
    }
    if (::pipe2(m_stop_pipe, O_CLOEXEC) != 0)
    {
        error = system_error("pipe");
        return false;
    }
    if (m_poweroff_reader)
    {
        if (::mkfifo(s_poweroff_pipe, 0600) != 0 && errno != EEXIST)
        {
            error = system_error(std::string("cannot make ") + s_poweroff_pipe);
            return false;
        }
        // Read and write, so that the pipe never reports a hang-up while the daemon has it closed.
        m_poweroff_fd = ::open(s_poweroff_pipe, O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (m_poweroff_fd < 0)
        {
            error = system_error(std::string("cannot open ") + s_poweroff_pipe);
            return false;
        }
        m_poweroff_thread = std::thread([this] { read_poweroff(); });
    }
    m_file_watcher = std::thread([this] { watch_files(); });

    if (!start_iam_daemon(error))
    {
        return false;
    }
    auto environment = std::vector<std::string>{"ARA_LOG_CONSOLE=1", "ARA_LOG_DLT=0"};
    environment.push_back("LD_PRELOAD=" + m_options.preload);
    // Without an IAM daemon there is nobody to ask: access control stays off.
    const bool checked = m_with_iam && m_options.access != "off";
    environment.push_back(std::string("TARN1_COM_IAM_SOCKET=") + (checked ? s_iam_socket : ""));
    environment.push_back("TARN1_COM_IAM_MODE=" + (checked ? m_options.access : std::string("enforce")));
    m_journal.add("sim", std::string("access control of Statewarden: ") + (checked ? m_options.access : "off"));
    m_statewarden = std::make_unique<Child_process>("Statewarden", "log", m_journal);
    if (!m_statewarden->start({m_options.statewarden}, environment, error))
    {
        return false;
    }
    m_status = std::make_unique<Status_follower>(m_journal);
    m_started = true;
    return true;
}

bool Vm::start_iam_daemon(std::string& error)
{
    if (!m_with_iam || m_iam)
    {
        return true;
    }
    m_iam = std::make_unique<Child_process>("tarn1_iam_daemon", "iamlog", m_journal);
    if (!m_iam->start({m_options.iam_daemon},
                      {"ARA_LOG_CONSOLE=1",
                       "ARA_LOG_DLT=0",
                       "TARN1_IAM_ALIAS_RULES=" + m_options.alias_rules,
                       "TARN1_IAM_POLICY=" + m_options.policy},
                      error))
    {
        return false;
    }
    // It reports readiness once its socket listens; a probe would leave an ended session in its log.
    if (m_journal.wait_seen("iamlog", "report_ready", std::chrono::steady_clock::now() + 5s))
    {
        return true;
    }
    // The daemons start anyway: what the missing daemon means is what the scenario looks at.
    m_journal.add("sim", "no readiness report of the IAM daemon within 5 s");
    return true;
}

bool Vm::make_keyboard(std::string& error)
{
    const Keyboard_choice choice = choose_keyboard(m_options.keyboard, m_options.keyboard_places);
    if (choice.kind == Keyboard_choice::Kind::none)
    {
        error = choice.reason;
        return false;
    }
    std::string reason = choice.reason;
    if (choice.kind == Keyboard_choice::Kind::uinput)
    {
        m_keyboard = Uinput_hypervisor_keyboard::create(
            s_input_device, m_options.keyboard_places.uinput, m_options.device_places, error);
        if (!m_keyboard && m_options.keyboard == Keyboard_request::uinput)
        {
            return false;
        }
        if (!m_keyboard)
        {
            reason = "the real keyboard failed: " + error;
            error.clear();
        }
    }
    if (!m_keyboard)
    {
        m_keyboard = Fifo_keyboard::create(s_input_device, error);
        if (!m_keyboard)
        {
            return false;
        }
    }
    m_journal.add("sim", "keyboard " + m_keyboard->description() + " (" + reason + ")");
    return true;
}

bool Vm::press(const std::string& key, std::string& error)
{
    std::uint16_t code = 0;
    if (key == "R" || key == "r")
    {
        code = KEY_R;
    }
    else if (key == "P" || key == "p")
    {
        code = KEY_P;
    }
    else if (key == "S" || key == "s")
    {
        code = KEY_S;
    }
    else if (key == "N" || key == "n")
    {
        code = KEY_N;
    }
    else if (key == "POWER" || key == "power")
    {
        code = KEY_POWER;
    }
    else
    {
        error = "unknown key " + key + " (R, P, S, N, POWER)";
        return false;
    }
    if (!m_keyboard)
    {
        error = "not started";
        return false;
    }
    if (!m_keyboard->press(code, error))
    {
        return false;
    }
    m_journal.add("key", key);
    return true;
}

bool Vm::nm_offer(std::string& error)
{
    if (m_nm)
    {
        error = "the NM simulator is already offered";
        return false;
    }
    // The offer is checked with the IAM daemon, which therefore comes first.
    if (!start_iam_daemon(error))
    {
        return false;
    }
    try
    {
        m_nm = std::make_unique<Nm_simulator>(m_journal);
        m_nm->offer(Bytes{1});
    }
    catch (const std::exception& exception)
    {
        m_nm.reset();
        error = std::string("cannot offer the NM services: ") + exception.what();
        return false;
    }
    m_journal.add("nm", "offered");
    m_journal.add("nm", "NetworkState 01");
    return true;
}

void Vm::nm_withdraw()
{
    if (m_nm)
    {
        m_nm.reset();
        m_journal.add("nm", "withdrawn");
    }
}

bool Vm::network_state(const std::vector<unsigned char>& value, std::string& error)
{
    if (!m_nm)
    {
        error = "the NM simulator is not offered (nm offer)";
        return false;
    }
    m_nm->update(Bytes(value.begin(), value.end()));
    m_journal.add("nm", "NetworkState " + to_hex(value));
    return true;
}

bool Vm::app_call(const std::string& verb,
                  const std::string& service,
                  const std::vector<std::string>& arguments,
                  std::string& error)
{
    const bool request = verb == "request";
    const auto wrong = [&](const std::string& usage)
    {
        error = "usage: " + verb + " " + usage;
        return false;
    };
    const auto timeout = 3000ms;
    std::string what = verb + " " + service;
    for (const auto& argument : arguments)
    {
        what += " " + argument;
    }
    try
    {
        vela::com::Future<void> call;
        if (service == "ecualive")
        {
            if (arguments.size() != 1)
            {
                return wrong("ecualive <instance>");
            }
            auto proxy =
                find_proxy<vela::ap::statemanager::proxy::StateManagementAliveInterfaceProxy>(arguments[0], timeout);
            if (!proxy)
            {
                m_journal.add("app", what + ": not offered");
                return true;
            }
            (request ? proxy->RequestAlive() : proxy->ReleaseAlive()).get();
        }
        else if (service == "comalive")
        {
            std::uint8_t ac = 0;
            const auto cab = arguments.size() >= 2 ? parse_hex(arguments[1]) : std::nullopt;
            if (!cab || arguments.size() != (request ? 3u : 2u) || (request && !parse_u8(arguments[2], ac)))
            {
                return wrong(request ? "comalive <instance> <cab hex> <ac>" : "comalive <instance> <cab hex>");
            }
            auto proxy =
                find_proxy<vela::ap::statemanager::proxy::StateManagementComAliveInterfaceProxy>(arguments[0], timeout);
            if (!proxy)
            {
                m_journal.add("app", what + ": not offered");
                return true;
            }
            const Bytes bits(cab->begin(), cab->end());
            (request ? proxy->RequestComAlive(bits, ac) : proxy->ReleaseComAlive(bits)).get();
        }
        else if (service == "cwu")
        {
            std::uint8_t value = 0;
            if (arguments.size() != (request ? 2u : 1u) || (request && !parse_u8(arguments[1], value)))
            {
                return wrong(request ? "cwu <instance> <value>" : "cwu <instance>");
            }
            auto proxy =
                find_proxy<vela::ap::statemanager::proxy::StateManagementCWUInterfaceProxy>(arguments[0], timeout);
            if (!proxy)
            {
                m_journal.add("app", what + ": not offered");
                return true;
            }
            (request ? proxy->RequestCarWakeUp(value) : proxy->ReleaseCarWakeUp()).get();
        }
        else if (service == "dsa" && request)
        {
            std::uint8_t type = 0;
            if (arguments.size() != 1 || !parse_u8(arguments[0], type))
            {
                return wrong("dsa <restart type>");
            }
            auto proxy = find_proxy<vela::ap::statemanager::proxy::DSAInterfaceProxy>("DSA_Interface", timeout);
            if (!proxy)
            {
                m_journal.add("app", what + ": not offered");
                return true;
            }
            proxy->RequestRestart(type).get();
        }
        else
        {
            error = "unknown service " + service + " (ecualive, comalive, cwu; dsa only with request)";
            return false;
        }
    }
    catch (const std::exception& exception)
    {
        m_journal.add("app", what + ": failed: " + exception.what());
        return true;
    }
    m_journal.add("app", what + ": ok");
    if (m_status)
    {
        m_status->refresh();
    }
    return true;
}

bool Vm::app_call_as(unsigned uid,
                     const std::string& verb,
                     const std::string& service,
                     const std::vector<std::string>& arguments,
                     std::string& error)
{
    std::vector<std::string> argv{m_options.self, "--app-call", verb, service};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (auto& arg : argv)
    {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
    {
        error = system_error("pipe");
        return false;
    }
    // Made before the fork: between fork and exec only async-signal-safe calls are allowed.
    const std::string refused = "app cannot run as uid " + std::to_string(uid) +
                                " here (setresuid failed: the simulator of an ordinary user maps only root; run it "
                                "as root)\n";
    const std::string prefix = "as uid " + std::to_string(uid) + ": ";
    const pid_t pid = ::fork();
    if (pid < 0)
    {
        error = system_error("fork");
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    if (pid == 0)
    {
        ::dup2(ends[1], STDOUT_FILENO);
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDERR_FILENO);
        if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)
        {
            (void)!::write(STDOUT_FILENO, refused.data(), refused.size());
            ::_exit(126);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(ends[1]);
    std::string output;
    char buffer[1024];
    ssize_t count = 0;
    while ((count = ::read(ends[0], buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR))
    {
        output.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    }
    ::close(ends[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    bool reported = false;
    std::size_t start = 0;
    for (std::size_t end = output.find('\n'); end != std::string::npos; end = output.find('\n', start))
    {
        const std::string line = output.substr(start, end - start);
        start = end + 1;
        if (line.rfind("app ", 0) == 0)
        {
            m_journal.add("app", prefix + line.substr(4));
            reported = true;
        }
    }
    if (!reported)
    {
        m_journal.add("app",
                      prefix + verb + " " + service + ": no outcome (exit status " +
                          std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")");
    }
    return true;
}

void Vm::client_add(const std::string& name, Client_mode mode, std::chrono::milliseconds delay)
{
    m_clients[name] = std::make_unique<Sim_client>(name, mode, delay, m_journal);
    m_journal.add("client", name + " added");
}

bool Vm::client_mode(const std::string& name, Client_mode mode, std::chrono::milliseconds delay, std::string& error)
{
    const auto client = m_clients.find(name);
    if (client == m_clients.end())
    {
        error = "no client " + name;
        return false;
    }
    client->second->set_mode(mode, delay);
    return true;
}

bool Vm::client_remove(const std::string& name, std::string& error)
{
    if (m_clients.erase(name) == 0)
    {
        error = "no client " + name;
        return false;
    }
    m_journal.add("client", name + " removed");
    return true;
}

namespace
{

void append_element(std::string& frame, std::uint32_t type, const std::string& value)
{
    const std::uint64_t length = value.size();
    frame.append(reinterpret_cast<const char*>(&type), 4);
    frame.append(reinterpret_cast<const char*>(&length), 8);
    frame += value;
}

std::string make_frame(const std::string& elements)
{
    std::string frame;
    append_element(frame, 2, elements);
    return frame;
}

} // namespace

bool Vm::raw_client_add(const std::string& name, const std::string& behaviour, std::string& error)
{
    if (behaviour != "partial" && behaviour != "huge" && behaviour != "silent")
    {
        error = "unknown behaviour " + behaviour + " (partial, huge, silent)";
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = "/var/run/adaptive/ara_SM/ara_SM.socket";
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
    {
        error = system_error("cannot connect to " + path);
        if (fd >= 0)
        {
            ::close(fd);
        }
        return false;
    }
    m_raw_clients.push_back(fd);
    if (behaviour != "silent")
    {
        std::string hello;
        append_element(hello, 0, "component_client_v1");
        append_element(hello, 0, name);
        append_element(hello, 0, "kOn");
        std::string bytes = make_frame(hello);
        if (behaviour == "huge")
        {
            const std::uint32_t type = 2;
            const std::uint64_t length = 0x7FFFFFFFFFFFull;
            bytes.append(reinterpret_cast<const char*>(&type), 4);
            bytes.append(reinterpret_cast<const char*>(&length), 8);
        }
        else
        {
            // Half a response header: the round has to time this client out.
            bytes.append(std::string("\x02\x00\x00\x00\x30\x00", 6));
        }
        if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
        {
            error = system_error("cannot send");
            return false;
        }
    }
    m_journal.add("client", name + " connected raw (" + behaviour + ")");
    return true;
}

namespace
{

/// Starts the IAM client tool with its output discarded; -1 when it cannot be started.
pid_t start_iam_client(const std::string& program, const std::vector<std::string>& arguments)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& arg : argv)
    {
        args.push_back(const_cast<char*>(arg.c_str()));
    }
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

/// The decision the IAM client tool reported through its exit status: 0 allowed, 1 denied,
/// 2 error, 3 anything else.
int wait_for_iam_client(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 3;
    return code >= 0 && code <= 2 ? code : 3;
}

const char* const s_iam_results[] = {"allowed", "denied", "error", "failed (no answer)"};

} // namespace

bool Vm::iam_request(const std::vector<std::string>& arguments, std::string& error)
{
    const pid_t pid = start_iam_client(m_options.iam_client, arguments);
    if (pid < 0)
    {
        error = system_error("fork");
        return false;
    }
    m_journal.add("iam", s_iam_results[wait_for_iam_client(pid)]);
    return true;
}

bool Vm::iam_burst(std::size_t count, const std::vector<std::string>& arguments, std::string& error)
{
    std::vector<pid_t> clients;
    for (std::size_t i = 0; i < count; ++i)
    {
        const pid_t pid = start_iam_client(m_options.iam_client, arguments);
        if (pid < 0)
        {
            error = system_error("fork");
            break;
        }
        clients.push_back(pid);
    }
    std::size_t results[4] = {0, 0, 0, 0};
    for (const pid_t pid : clients)
    {
        ++results[wait_for_iam_client(pid)];
    }
    if (clients.size() != count)
    {
        return false;
    }
    m_journal.add("iam",
                  "burst " + std::to_string(count) + ": " + std::to_string(results[0]) + " allowed, " +
                      std::to_string(results[1]) + " denied, " + std::to_string(results[2]) + " error, " +
                      std::to_string(results[3]) + " failed");
    return true;
}

bool Vm::run_ctl(const std::vector<std::string>& arguments, int& exit_status, std::string& output, std::string& error)
{
    // Everything the child needs is made before the fork (a process with threads).
    std::vector<std::string> argv{m_options.ctl};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (auto& arg : argv)
    {
        args.push_back(arg.data());
    }
    args.push_back(nullptr);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
    {
        error = system_error("pipe");
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0)
    {
        error = system_error("fork");
        ::close(ends[0]);
        ::close(ends[1]);
        return false;
    }
    if (pid == 0)
    {
        ::dup2(ends[1], STDOUT_FILENO);
        ::dup2(ends[1], STDERR_FILENO);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, STDIN_FILENO);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(ends[1]);
    output.clear();
    char buffer[4096];
    for (;;)
    {
        const ssize_t count = ::read(ends[0], buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
        {
            continue;
        }
        if (count <= 0)
        {
            break;
        }
        // The history of the daemon is at most a middleware frame; more is not kept.
        if (output.size() < (8U << 20U))
        {
            output.append(buffer, static_cast<std::size_t>(count));
        }
    }
    ::close(ends[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127)
    {
        error = "cannot run " + m_options.ctl;
        return false;
    }
    exit_status = WEXITSTATUS(status);
    return true;
}

bool Vm::signal_statewarden(int signal_number, std::string& error)
{
    if (!m_statewarden || !m_statewarden->signal(signal_number))
    {
        error = "Statewarden is not running";
        return false;
    }
    m_journal.add("sim", "signal " + std::to_string(signal_number) + " to Statewarden");
    return true;
}

void Vm::stop()
{
    m_clients.clear();
    for (const int fd : m_raw_clients)
    {
        ::close(fd);
    }
    m_raw_clients.clear();
    m_status.reset();
    if (m_statewarden)
    {
        m_statewarden->stop(5000ms);
        m_statewarden.reset();
    }
    if (m_iam)
    {
        m_iam->stop(3000ms);
        m_iam.reset();
    }
    m_nm.reset();
    if (m_stop_pipe[1] >= 0)
    {
        (void)!::write(m_stop_pipe[1], "x", 1);
    }
    if (m_file_watcher.joinable())
    {
        m_file_watcher.join();
    }
    if (m_poweroff_thread.joinable())
    {
        m_poweroff_thread.join();
    }
    // After the daemon: a real keyboard vanishing under it would be a hang-up it logs.
    m_keyboard.reset();
    for (int* fd : {&m_poweroff_fd, &m_stop_pipe[0], &m_stop_pipe[1]})
    {
        if (*fd >= 0)
        {
            ::close(*fd);
            *fd = -1;
        }
    }
}

std::string Vm::status() const
{
    return m_journal.latest("status").value_or("");
}

void Vm::watch_files()
{
    struct Watched
    {
        const char* path;
        const char* kind;
        Word_splitter splitter;
        off_t shown;
    };
    Watched files[] = {{s_status_file, "status", Word_splitter(status_words()), 0},
                       {s_command_file, "command", Word_splitter(command_words()), 0}};
    const int inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (inotify >= 0)
    {
        ::inotify_add_watch(inotify, "/sys/vmctl", IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE);
    }
    for (;;)
    {
        for (auto& file : files)
        {
            const int fd = ::open(file.path, O_RDONLY | O_CLOEXEC);
            if (fd < 0)
            {
                continue;
            }
            struct stat info
            {
            };
            if (::fstat(fd, &info) == 0 && info.st_size < file.shown)
            {
                // Truncated (the daemon opens it anew when it starts).
                file.shown = 0;
            }
            char buffer[4096];
            ssize_t count;
            std::string bytes;
            while ((count = ::pread(fd, buffer, sizeof buffer, file.shown)) > 0)
            {
                bytes.append(buffer, static_cast<std::size_t>(count));
                file.shown += count;
            }
            ::close(fd);
            for (const auto& word : file.splitter.feed(bytes))
            {
                m_journal.add(file.kind, word);
            }
        }
        pollfd waits[2] = {{m_stop_pipe[0], POLLIN, 0}, {inotify, POLLIN, 0}};
        // The timeout covers file systems without change notification.
        const int ready = ::poll(waits, inotify >= 0 ? 2 : 1, 250);
        if (ready > 0 && (waits[0].revents & POLLIN) != 0)
        {
            break;
        }
        if (inotify >= 0 && (waits[1].revents & POLLIN) != 0)
        {
            char events[4096];
            while (::read(inotify, events, sizeof events) > 0)
            {
            }
        }
    }
    if (inotify >= 0)
    {
        ::close(inotify);
    }
}

void Vm::read_poweroff()
{
    std::string pending;
    for (;;)
    {
        pollfd waits[2] = {{m_stop_pipe[0], POLLIN, 0}, {m_poweroff_fd, POLLIN, 0}};
        if (::poll(waits, 2, -1) < 0 && errno != EINTR)
        {
            break;
        }
        if ((waits[0].revents & POLLIN) != 0)
        {
            break;
        }
        char buffer[1024];
        const ssize_t count = ::read(m_poweroff_fd, buffer, sizeof buffer);
        if (count <= 0)
        {
            continue;
        }
        pending.append(buffer, static_cast<std::size_t>(count));
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos)
        {
            m_journal.add("poweroff", pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }
}

} // namespace tarn1::simulator
