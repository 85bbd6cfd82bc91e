#include "tools/simulator/ctl_run.hpp"

#include "tools/simulator/program_launch.hpp"

#include <sys/wait.h>

namespace tarn1::simulator
{

bool run_ctl_program(const std::string& program,
                     const std::vector<std::string>& arguments,
                     int& exit_status,
                     std::string& output,
                     std::string& error)
{
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Launch_options options;
    options.capture_stderr = true;
    int fd = -1;
    const pid_t pid = launch_program(argv, options, fd, error);
    if (pid < 0)
    {
        return false;
    }
    // The history of the daemon is at most a middleware frame; more is not kept.
    output = read_to_end(fd, 8U << 20U);
    const int status = wait_for_child(pid);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 127)
    {
        error = "cannot run " + program;
        return false;
    }
    exit_status = WEXITSTATUS(status);
    return true;
}

} // namespace tarn1::simulator
