#include "testbed/support/iam_daemon_process.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarn1::testing
{

namespace
{

/// Exit status of a child that could not make its mount namespace.
constexpr int s_no_namespace = 77;

bool accepts(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
    {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool connected = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
    {
        ::close(fd);
    }
    return connected;
}

} // namespace

Iam_daemon_process::Iam_daemon_process(std::string program,
                                       std::string folder,
                                       std::string alias_rules,
                                       std::string policy)
    : m_program(std::move(program))
    , m_folder(std::move(folder))
    , m_alias_rules(std::move(alias_rules))
    , m_policy(std::move(policy))
{
}

Iam_daemon_process::~Iam_daemon_process()
{
    resume();
    kill();
}

bool Iam_daemon_process::start(std::string& why_not)
{
    if (::geteuid() != 0)
    {
        why_not = "needs root: the IAM daemon runs in a private mount namespace, its clients under other uids";
        return false;
    }
    const std::string run = m_folder + "/run";
    ::mkdir(run.c_str(), 0755);
    // Everything the child needs is made before the fork: the parent has threads.
    const std::string alias = "TARN1_IAM_ALIAS_RULES=" + m_alias_rules;
    const std::string policy = "TARN1_IAM_POLICY=" + m_policy;
    const std::string log_path = m_folder + "/iam_daemon.log";
    std::vector<const char*> environment{
        alias.c_str(), policy.c_str(), "ARA_LOG_LEVEL=debug", "ARA_LOG_CONSOLE=1", "ARA_LOG_DLT=0", nullptr};
    std::vector<const char*> arguments{m_program.c_str(), nullptr};
    m_pid = ::fork();
    if (m_pid == 0)
    {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount(run.c_str(), "/var/run", nullptr, MS_BIND, nullptr) != 0)
        {
            ::_exit(s_no_namespace);
        }
        ::umask(0);
        const int log = ::open(log_path.c_str(), O_CREAT | O_WRONLY | O_APPEND, 0644);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        ::execve(
            arguments[0], const_cast<char* const*>(arguments.data()), const_cast<char* const*>(environment.data()));
        ::_exit(127);
    }
    if (m_pid < 0)
    {
        why_not = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline)
    {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid)
        {
            m_pid = -1;
            why_not = WIFEXITED(status) && WEXITSTATUS(status) == s_no_namespace
                          ? "cannot make a private mount namespace over /var/run"
                          : "the IAM daemon ended at start-up: " + log();
            return false;
        }
        if (accepts(socket()))
        {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    why_not = "the IAM daemon's socket did not come: " + log();
    return false;
}

void Iam_daemon_process::kill()
{
    if (m_pid > 0)
    {
        ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR)
        {
        }
        m_pid = -1;
    }
}

void Iam_daemon_process::pause()
{
    if (m_pid > 0)
    {
        ::kill(m_pid, SIGSTOP);
    }
}

void Iam_daemon_process::resume()
{
    if (m_pid > 0)
    {
        ::kill(m_pid, SIGCONT);
    }
}

std::string Iam_daemon_process::log() const
{
    std::ifstream file(m_folder + "/iam_daemon.log");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

} // namespace tarn1::testing
