#include "platform/com/tests/peer_process.hpp"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <linux/sched.h>
#include <poll.h>
#include <stdexcept>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace tarn1::testing
{

namespace
{

/// A child like fork's, with the given pid when there is one.
pid_t start_child(const std::optional<pid_t>& pid)
{
    if (!pid)
    {
        return ::fork();
    }
    pid_t wanted[1] = {*pid};
    clone_args args{};
    args.exit_signal = SIGCHLD;
    args.set_tid = reinterpret_cast<std::uint64_t>(wanted);
    args.set_tid_size = 1;
    return static_cast<pid_t>(::syscall(SYS_clone3, &args, sizeof args));
}

bool replaced(const char* entry, const std::vector<std::string>& own)
{
    for (const auto& variable : own)
    {
        const auto equals = variable.find('=');
        if (std::strncmp(entry, variable.c_str(), equals + 1) == 0)
        {
            return true;
        }
    }
    return false;
}

} // namespace

Peer_process::Peer_process(const std::string& program,
                           const std::vector<std::string>& arguments,
                           const std::string& com_dir,
                           const Peer_options& options)
{
    int to_child[2];
    int from_child[2];
    if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0)
    {
        throw std::runtime_error("pipe failed");
    }
    std::vector<std::string> argv_strings{program};
    argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& argument : argv_strings)
    {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    // Prepared before fork: the child of a threaded process may only make async-signal-safe calls.
    std::vector<std::string> env_strings = options.environment;
    env_strings.push_back("TARN1_COM_DIR=" + com_dir);
    for (char** entry = environ; *entry != nullptr; ++entry)
    {
        if (!replaced(*entry, env_strings))
        {
            env_strings.emplace_back(*entry);
        }
    }
    std::vector<char*> envp;
    for (auto& entry : env_strings)
    {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const uid_t uid = options.uid.value_or(0);
    m_pid = start_child(options.pid);
    if (m_pid == 0)
    {
        // Only system calls from here on: the parent has threads.
        if (options.uid &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0))
        {
            ::_exit(126);
        }
        ::dup2(to_child[0], STDIN_FILENO);
        ::dup2(from_child[1], STDOUT_FILENO);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    if (m_pid < 0)
    {
        const int error = errno;
        for (const int fd : {to_child[0], to_child[1], from_child[0], from_child[1]})
        {
            ::close(fd);
        }
        throw std::system_error(error, std::system_category(), "cannot start " + program);
    }
    ::close(to_child[0]);
    ::close(from_child[1]);
    m_to_child = to_child[1];
    m_from_child = from_child[0];
}

Peer_process::~Peer_process()
{
    kill();
    if (m_to_child >= 0)
    {
        ::close(m_to_child);
    }
    if (m_from_child >= 0)
    {
        ::close(m_from_child);
    }
}

void Peer_process::send_line(const std::string& line)
{
    const std::string text = line + "\n";
    (void)!::write(m_to_child, text.data(), text.size());
}

bool Peer_process::wait_for_line(const std::string& text, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        while (m_next_match < m_lines.size())
        {
            if (m_lines[m_next_match++] == text)
            {
                return true;
            }
        }
        if (!read_more(deadline) && (m_from_child < 0 || std::chrono::steady_clock::now() >= deadline))
        {
            return false;
        }
    }
}

bool Peer_process::wait_for_line_count(std::size_t count, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_lines.size() < count)
    {
        if (!read_more(deadline) && (m_from_child < 0 || std::chrono::steady_clock::now() >= deadline))
        {
            return false;
        }
    }
    return true;
}

bool Peer_process::read_more(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || m_from_child < 0)
    {
        return false;
    }
    pollfd poll_fd{m_from_child, POLLIN, 0};
    if (::poll(&poll_fd, 1, static_cast<int>(left.count())) <= 0)
    {
        return false;
    }
    char buffer[1024];
    const ssize_t got = ::read(m_from_child, buffer, sizeof buffer);
    if (got <= 0)
    {
        ::close(m_from_child);
        m_from_child = -1;
        return false;
    }
    for (ssize_t i = 0; i < got; ++i)
    {
        if (buffer[i] == '\n')
        {
            m_lines.push_back(m_partial);
            m_partial.clear();
        }
        else
        {
            m_partial.push_back(buffer[i]);
        }
    }
    return true;
}

void Peer_process::kill()
{
    if (m_pid > 0)
    {
        ::kill(m_pid, SIGKILL);
        reap();
    }
}

void Peer_process::reap()
{
    int status = 0;
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    m_pid = -1;
}

int Peer_process::finish(std::chrono::milliseconds timeout)
{
    if (m_to_child >= 0)
    {
        ::close(m_to_child);
        m_to_child = -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_pid > 0)
    {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid)
        {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (std::chrono::steady_clock::now() > deadline)
        {
            kill();
            return -1;
        }
        pollfd none{-1, 0, 0};
        ::poll(&none, 0, 5);
    }
    return -1;
}

} // namespace tarn1::testing
