#include "tools/simulator/child_process.hpp"

#include "tools/simulator/errno_text.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarn1::simulator
{

Child_process::Child_process(std::string name, std::string log_kind, Journal& journal)
    : m_name(std::move(name))
    , m_log_kind(std::move(log_kind))
    , m_journal(journal)
{
}

Child_process::~Child_process()
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

bool Child_process::start(const std::vector<std::string>& argv,
                          const std::vector<std::string>& environment,
                          std::string& error)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
    {
        error = errno_text("pipe");
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
        error = errno_text("fork");
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

bool Child_process::signal(int signal_number) const
{
    return !m_ended.load() && ::kill(m_pid, signal_number) == 0;
}

void Child_process::stop(std::chrono::milliseconds grace)
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

void Child_process::read_output(int fd)
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

void Child_process::wait_for_end()
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

} // namespace tarn1::simulator
