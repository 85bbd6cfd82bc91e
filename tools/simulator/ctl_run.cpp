#include "tools/simulator/ctl_run.hpp"

#include "tools/simulator/errno_text.hpp"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarn1::simulator
{

bool run_ctl_program(const std::string& program,
                     const std::vector<std::string>& arguments,
                     int& exit_status,
                     std::string& output,
                     std::string& error)
{
    // Everything the child needs is made before the fork (a process with threads).
    std::vector<std::string> argv{program};
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
        error = errno_text("pipe");
        return false;
    }
    const pid_t pid = ::fork();
    if (pid < 0)
    {
        error = errno_text("fork");
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
        error = "cannot run " + program;
        return false;
    }
    exit_status = WEXITSTATUS(status);
    return true;
}

} // namespace tarn1::simulator
