#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

namespace tarn1::testing
{

/// What a forked child left behind.
struct Child_result
{
    int exit_status{-1};
    std::string out;
    std::string err;
    std::chrono::milliseconds lifetime{0};
    /// When the child was seen to end (steady clock).
    std::chrono::steady_clock::time_point finished{};
};

/// Runs body in a forked child with its standard output and error captured apart; the child exits
/// with body's result (through exit(), so the libraries' atexit handlers run). Waits at most
/// timeout, then kills the child.
Child_result run_in_child(const std::function<int()>& body, std::chrono::milliseconds timeout);

/// How a Child_process starts.
struct Child_options
{
    /// The program and its arguments; a program without '/' is searched in PATH.
    std::vector<std::string> argv;
    /// Assignments ("NAME=value") added to this process's environment, replacing a variable of the
    /// same name; a service manager's variables and LD_PRELOAD are never passed on.
    std::vector<std::string> environment;
    /// false: the child's environment is environment alone.
    bool inherit_environment{true};
    /// Standard output and error both go to this file (made or emptied); empty: to a buffer of the
    /// object that output() reads.
    std::string output_file;
    /// Append to output_file instead of emptying it.
    bool append_output{false};
    /// Standard output and error stay this process's own (a bench's results, a daemon's reports);
    /// output() is then empty.
    bool keep_output{false};
    /// Soft RLIMIT_NOFILE of the child; 0 keeps this process's own.
    rlim_t descriptor_limit{0};
    /// Runs in the child before the exec, after the output is redirected; a value other than 0 ends
    /// the child with that status. The parent has threads: system calls only (no allocation, no
    /// locks), and nothing captured that the parent may change.
    std::function<int()> before_exec;
};

/// A program run by a test, bench or helper: forked and exec'd with everything it needs made
/// before the fork, its output in a file or buffer, the descriptors the caller holds closed in the
/// child. The child keeps its process id across the exec, so signals and /proc/<pid> reach the
/// program itself. Killed (SIGKILL) and reaped on destruction if it still runs.
class Child_process final
{
  public:
    /// Starts at once; started() is false when the fork failed.
    explicit Child_process(Child_options options);
    ~Child_process();

    Child_process(const Child_process&) = delete;
    Child_process& operator=(const Child_process&) = delete;

    bool started() const noexcept { return m_pid > 0; }
    /// The child's process id, -1 once reaped or when it did not start.
    pid_t pid() const noexcept { return m_pid; }
    void send(int signal_number) const;
    /// Whether the process still runs (it has neither ended nor become a zombie).
    bool running() const;

    /// Waits for the end within timeout: its exit status, 128 + the signal that ended it, or -1
    /// when it did not end in time (it then still runs).
    int wait_for_exit(std::chrono::milliseconds timeout);
    /// SIGKILL and reap; nothing when it already ended and was reaped.
    void kill();

    /// Everything it has written so far.
    std::string output() const;
    /// Waits until its output holds fragment; false at the deadline or when the child ended first.
    bool wait_for_output(const std::string& fragment, std::chrono::milliseconds timeout) const;

  private:
    std::string m_output_file;
    int m_buffer{-1};
    int m_pidfd{-1};
    pid_t m_pid{-1};
};

} // namespace tarn1::testing
