#include "testbed/support/namespaced_daemon.hpp"

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarn1::testing
{
namespace
{

/// This process's environment without a service manager's variables, with additions.
std::vector<std::string> child_environment(const std::vector<std::string>& additions)
{
    std::vector<std::string> replaced{"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID", "LD_PRELOAD"};
    for (const auto& addition : additions)
    {
        replaced.push_back(addition.substr(0, addition.find('=')));
    }
    std::vector<std::string> environment;
    for (char** variable = environ; *variable != nullptr; ++variable)
    {
        const std::string assignment = *variable;
        const std::string name = assignment.substr(0, assignment.find('='));
        if (std::find(replaced.begin(), replaced.end(), name) == replaced.end())
        {
            environment.push_back(assignment);
        }
    }
    environment.insert(environment.end(), additions.begin(), additions.end());
    return environment;
}

} // namespace

Namespaced_daemon::Namespaced_daemon(const Temp_dir& dir,
                                     const std::string& program,
                                     const std::vector<std::string>& environment,
                                     const Namespaced_daemon_options& options)
    : m_log(dir.file(options.log_name))
{
    const std::string config = dir.file("statewarden.json");
    // everything the child needs is made before the fork: the parent has threads, so the child
    // makes system calls only
    auto additions = environment;
    additions.push_back("TARN1_RUN_FOLDER=" + options.run_folder);
    m_environment = child_environment(additions);
    std::vector<char*> envp;
    for (auto& assignment : m_environment)
    {
        envp.push_back(assignment.data());
    }
    envp.push_back(nullptr);
    const char* const argv[] = {
        "unshare",
        "--mount",
        "--propagation",
        "private",
        TARN1_VM_PATHS_SCRIPT,
        config.c_str(),
        "sh",
        "-c",
        "if [ -n \"$TARN1_INPUT_DIR\" ]; then mount --bind \"$TARN1_INPUT_DIR\" /dev/input; fi && "
        "if [ -n \"$TARN1_RUN_FOLDER\" ]; then mount --bind \"$TARN1_RUN_FOLDER\" /var/run/adaptive; fi && "
        "LD_PRELOAD=\"$TARN1_PRELOAD\" exec \"$0\"",
        program.c_str(),
        nullptr};
    rlimit descriptors{};
    ::getrlimit(RLIMIT_NOFILE, &descriptors);
    if (options.descriptor_limit != 0)
    {
        descriptors.rlim_cur = std::min(options.descriptor_limit, descriptors.rlim_max);
    }
    m_pid = ::fork();
    if (m_pid == 0)
    {
        const int log = ::open(m_log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        // whatever else the test holds open stays out of the daemon's descriptors
        ::closefrom(STDERR_FILENO + 1);
        if (::setrlimit(RLIMIT_NOFILE, &descriptors) != 0)
        {
            ::_exit(126);
        }
        ::execvpe(argv[0], const_cast<char* const*>(argv), envp.data());
        ::_exit(127);
    }
}

Namespaced_daemon::~Namespaced_daemon()
{
    if (m_pid > 0)
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
}

void Namespaced_daemon::send(int signal_number) const
{
    if (m_pid > 0)
    {
        ::kill(m_pid, signal_number);
    }
}

bool Namespaced_daemon::running() const
{
    if (m_pid <= 0)
    {
        return false;
    }
    siginfo_t info{};
    // WNOWAIT: the test still reaps it (and reads its status) itself
    if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    {
        return false;
    }
    return info.si_pid == 0;
}

int Namespaced_daemon::wait_for_exit(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline)
    {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
        {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
}

std::string Namespaced_daemon::output() const
{
    std::FILE* file = std::fopen(m_log.c_str(), "r");
    std::string text;
    char buffer[4096];
    std::size_t got = 0;
    while (file != nullptr && (got = std::fread(buffer, 1, sizeof(buffer), file)) > 0)
    {
        text.append(buffer, got);
    }
    if (file != nullptr)
    {
        std::fclose(file);
    }
    return text;
}

bool Namespaced_daemon::wait_for_output(const std::string& fragment, std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        if (output().find(fragment) != std::string::npos)
        {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline || !running())
        {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string Namespaced_daemon::inside(const std::string& path) const
{
    // /var/run is often a link to /run, which /proc/<pid>/root would resolve in our own root
    char resolved[PATH_MAX] = {};
    const std::string real = ::realpath("/var/run", resolved) != nullptr && path.rfind("/var/run", 0) == 0
                                 ? std::string(resolved) + path.substr(8)
                                 : path;
    return "/proc/" + std::to_string(m_pid) + "/root" + real;
}

} // namespace tarn1::testing
