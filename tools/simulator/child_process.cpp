#include "tools/simulator/child_process.hpp"

#include "tools/simulator/program_launch.hpp"

#include <csignal>
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
    Launch_options options;
    options.environment = environment;
    options.capture_stderr = true;
    options.cannot_exec = "cannot start " + argv[0] + "\n";
    int output = -1;
    const pid_t pid = launch_program(argv, options, output, error);
    if (pid < 0)
    {
        return false;
    }
    m_pid = pid;
    m_journal.add("sim", "started " + m_name + " (pid " + std::to_string(pid) + ")");
    m_reader = std::thread([this, output] { read_output(output); });
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
    std::size_t count = 0;
    while ((count = read_some(fd, buffer, sizeof buffer)) > 0)
    {
        pending.append(buffer, count);
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
    const int status = wait_for_child(m_pid);
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
