#include "tools/simulator/program_launch.hpp"

#include "tools/simulator/errno_text.hpp"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarn1::simulator
{
namespace
{

std::vector<std::string> merged_environment(const std::vector<std::string>& own)
{
    std::vector<std::string> variables = own;
    for (char** variable = environ; *variable != nullptr; ++variable)
    {
        const std::string entry(*variable);
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const auto& mine : own)
        {
            replaced = replaced || mine.compare(0, name.size(), name) == 0;
        }
        if (!replaced)
        {
            variables.push_back(entry);
        }
    }
    return variables;
}

std::vector<char*> pointers_to(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (auto& text : texts)
    {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

void close_if_open(int fd)
{
    if (fd >= 0)
    {
        ::close(fd);
    }
}

void write_all(int fd, const std::string& text)
{
    if (!text.empty())
    {
        (void)!::write(fd, text.data(), text.size());
    }
}

} // namespace

pid_t launch_program(const std::vector<std::string>& argv,
                     const Launch_options& options,
                     int& output,
                     std::string& error)
{
    std::vector<std::string> arguments = argv;
    std::vector<std::string> variables = merged_environment(options.environment);
    const std::vector<char*> args = pointers_to(arguments);
    const std::vector<char*> envp = pointers_to(variables);
    int ends[2]{-1, -1};
    if (!options.discard_output && ::pipe2(ends, O_CLOEXEC) != 0)
    {
        error = errno_text("pipe");
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid < 0)
    {
        error = errno_text("fork");
        close_if_open(ends[0]);
        close_if_open(ends[1]);
        return -1;
    }
    if (pid == 0)
    {
        const int null = ::open("/dev/null", O_RDWR);
        const int out = options.discard_output ? null : ends[1];
        ::dup2(null, STDIN_FILENO);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(options.capture_stderr ? out : null, STDERR_FILENO);
        if (options.uid &&
            (::setgroups(0, nullptr) != 0 || ::setresgid(*options.uid, *options.uid, *options.uid) != 0 ||
             ::setresuid(*options.uid, *options.uid, *options.uid) != 0))
        {
            write_all(STDOUT_FILENO, options.cannot_switch_user);
            ::_exit(126);
        }
        ::execve(args[0], args.data(), envp.data());
        write_all(STDOUT_FILENO, options.cannot_exec);
        ::_exit(127);
    }
    close_if_open(ends[1]);
    output = ends[0];
    return pid;
}

std::size_t read_some(int fd, char* buffer, std::size_t size)
{
    for (;;)
    {
        const ssize_t count = ::read(fd, buffer, size);
        if (count >= 0 || errno != EINTR)
        {
            return count > 0 ? static_cast<std::size_t>(count) : 0;
        }
    }
}

std::string read_to_end(int fd, std::size_t limit)
{
    std::string text;
    char buffer[4096];
    std::size_t count = 0;
    while ((count = read_some(fd, buffer, sizeof buffer)) > 0)
    {
        if (text.size() < limit)
        {
            text.append(buffer, std::min(count, limit - text.size()));
        }
    }
    ::close(fd);
    return text;
}

int wait_for_child(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR)
    {
    }
    return status;
}

int exit_status_of(int wait_status)
{
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

} // namespace tarn1::simulator
