#include "child_process.hpp"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

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

} // namespace tarn1::testing
