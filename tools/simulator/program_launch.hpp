#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarn1::simulator
{

/// How launch_program starts a child. Standard input is /dev/null, standard output goes into the
/// pipe whose read end launch_program returns (or to /dev/null too with discard_output).
struct Launch_options
{
    /// NAME=VALUE entries that replace the simulator's own; the rest of its environment is inherited.
    std::vector<std::string> environment;
    /// Standard error where standard output goes; otherwise to /dev/null.
    bool capture_stderr{false};
    /// No pipe: standard output to /dev/null, and the returned read end is -1.
    bool discard_output{false};
    /// User and group id the child takes (without supplementary groups) before exec.
    std::optional<unsigned> uid;
    /// Written to the pipe when the child cannot take uid; it then exits with 126.
    std::string cannot_switch_user;
    /// Written to the pipe when exec fails; the child then exits with 127.
    std::string cannot_exec;
};

/// Forks and execs argv (argv[0] a path). Everything the child needs is made before the fork:
/// between fork and exec a process with threads may make only async-signal-safe calls. Returns the
/// pid and the pipe's read end in output (close-on-exec), or -1 with the reason in error.
pid_t launch_program(const std::vector<std::string>& argv,
                     const Launch_options& options,
                     int& output,
                     std::string& error);

/// Reads what fd has now or next (through EINTR): the byte count; 0 at its end or on an error.
std::size_t read_some(int fd, char* buffer, std::size_t size);

/// Reads fd to its end, keeping at most limit bytes of it, and closes it.
std::string read_to_end(int fd, std::size_t limit);

/// Waits for pid to end (through EINTR) and returns its wait status.
int wait_for_child(pid_t pid);

/// The exit status of a wait status; 128 + the signal for a child a signal ended.
int exit_status_of(int wait_status);

} // namespace tarn1::simulator
