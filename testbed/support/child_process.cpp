#include "testbed/support/child_process.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarn1::testing
{

Child_result run_in_child(const std::function<int()>& body, std::chrono::milliseconds timeout)
{
    Child_result result;
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0)
    {
        return result;
    }
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0)
    {
        ::dup2(out_pipe[1], STDOUT_FILENO);
        ::dup2(err_pipe[1], STDERR_FILENO);
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        ::close(out_pipe[1]);
        ::close(err_pipe[1]);
        // exit() rather than _exit(): the atexit handlers of the libraries are part of what runs.
        // NOLINTNEXTLINE(concurrency-mt-unsafe): the child's only exit(), from the thread fork() left it.
        std::exit(body());
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);

    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int open_count = 2;
    const auto deadline = started + timeout;
    while (open_count > 0)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
        {
            ::kill(pid, SIGKILL);
            break;
        }
        if (::poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR)
        {
            break;
        }
        for (int i = 0; i < 2; ++i)
        {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0)
            {
                char buffer[4096];
                const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0)
                {
                    (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(got));
                }
                else
                {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                    --open_count;
                }
            }
        }
    }
    for (auto& fd : fds)
    {
        if (fd.fd >= 0)
        {
            ::close(fd.fd);
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.finished = std::chrono::steady_clock::now();
    result.lifetime = std::chrono::duration_cast<std::chrono::milliseconds>(result.finished - started);
    result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

namespace
{

/// This process's environment without a service manager's variables and LD_PRELOAD, with additions
/// that replace variables of the same name.
std::vector<std::string> child_environment(const std::vector<std::string>& additions, bool inherit)
{
    std::vector<std::string> environment;
    if (inherit)
    {
        std::vector<std::string> replaced{"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID", "LD_PRELOAD"};
        for (const auto& addition : additions)
        {
            replaced.push_back(addition.substr(0, addition.find('=')));
        }
        for (char** variable = environ; *variable != nullptr; ++variable)
        {
            const std::string assignment = *variable;
            const std::string name = assignment.substr(0, assignment.find('='));
            if (std::find(replaced.begin(), replaced.end(), name) == replaced.end())
            {
                environment.push_back(assignment);
            }
        }
    }
    environment.insert(environment.end(), additions.begin(), additions.end());
    return environment;
}

int exit_status(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

Child_process::Child_process(Child_options options)
    : m_output_file(std::move(options.output_file))
{
    // Everything the child needs is made before the fork: the parent has threads, so the child
    // makes system calls only.
    int output = -1;
    if (options.keep_output)
    {
        m_output_file.clear();
    }
    else if (m_output_file.empty())
    {
        m_buffer = ::memfd_create("child_output", MFD_CLOEXEC);
        output = m_buffer;
    }
    else
    {
        output = ::open(
            m_output_file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (options.append_output ? O_APPEND : O_TRUNC), 0644);
    }
    if ((output < 0 && !options.keep_output) || options.argv.empty())
    {
        return;
    }
    std::vector<std::string> environment = child_environment(options.environment, options.inherit_environment);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (auto& assignment : environment)
    {
        envp.push_back(assignment.data());
    }
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (auto& argument : options.argv)
    {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    rlimit descriptors{};
    ::getrlimit(RLIMIT_NOFILE, &descriptors);
    if (options.descriptor_limit != 0)
    {
        descriptors.rlim_cur = std::min(options.descriptor_limit, descriptors.rlim_max);
    }

    m_pid = ::fork();
    if (m_pid == 0)
    {
        if (output >= 0)
        {
            ::dup2(output, STDOUT_FILENO);
            ::dup2(output, STDERR_FILENO);
        }
        // whatever else the caller holds open stays out of the program's descriptors
        ::closefrom(STDERR_FILENO + 1);
        if (options.descriptor_limit != 0 && ::setrlimit(RLIMIT_NOFILE, &descriptors) != 0)
        {
            ::_exit(126);
        }
        if (options.before_exec)
        {
            const int refused = options.before_exec();
            if (refused != 0)
            {
                ::_exit(refused);
            }
        }
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    if (output >= 0 && output != m_buffer)
    {
        ::close(output);
    }
    if (m_pid > 0)
    {
        m_pidfd = static_cast<int>(::syscall(SYS_pidfd_open, m_pid, 0));
    }
}

Child_process::~Child_process()
{
    kill();
    if (m_pidfd >= 0)
    {
        ::close(m_pidfd);
    }
    if (m_buffer >= 0)
    {
        ::close(m_buffer);
    }
}

void Child_process::send(int signal_number) const
{
    if (m_pid > 0)
    {
        ::kill(m_pid, signal_number);
    }
}

bool Child_process::running() const
{
    if (m_pid <= 0)
    {
        return false;
    }
    siginfo_t info{};
    // WNOWAIT: wait_for_exit still reaps it and reads its status
    if (::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    {
        return false;
    }
    return info.si_pid == 0;
}

int Child_process::wait_for_exit(std::chrono::milliseconds timeout)
{
    if (m_pid <= 0)
    {
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        int status = 0;
        const pid_t reaped = ::waitpid(m_pid, &status, WNOHANG);
        if (reaped == m_pid)
        {
            m_pid = -1;
            return exit_status(status);
        }
        if (reaped < 0 && errno != EINTR)
        {
            return -1;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
        {
            return -1;
        }
        if (m_pidfd >= 0)
        {
            // the process descriptor turns readable when the child ends
            pollfd entry{m_pidfd, POLLIN, 0};
            ::poll(&entry, 1, static_cast<int>(left.count()));
        }
        else
        {
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(5)));
        }
    }
}

void Child_process::kill()
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

std::string Child_process::output() const
{
    if (m_buffer < 0 && m_output_file.empty())
    {
        return {};
    }
    const int fd = m_buffer >= 0 ? m_buffer : ::open(m_output_file.c_str(), O_RDONLY | O_CLOEXEC);
    std::string text;
    char buffer[4096];
    ssize_t got = 0;
    while (fd >= 0 && (got = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0)
    {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    if (fd >= 0 && fd != m_buffer)
    {
        ::close(fd);
    }
    return text;
}

bool Child_process::wait_for_output(const std::string& fragment, std::chrono::milliseconds timeout) const
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
            // what it wrote just before it ended still counts
            return output().find(fragment) != std::string::npos;
        }
        // a file has no readiness to wait on; its growth is looked at every few milliseconds
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace tarn1::testing
