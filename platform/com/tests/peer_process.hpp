#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace tarn1::testing
{

/// How a Peer_process is started besides its program and arguments.
struct Peer_options
{
    /// The user and group ids of the child (from a process running as root); its own otherwise.
    std::optional<uid_t> uid;
    /// The pid the child is to have (a privileged clone3); any free one otherwise.
    std::optional<pid_t> pid;
    /// NAME=VALUE entries added to (or replacing) the child's environment.
    std::vector<std::string> environment;
};

/// A helper program run in a child process (fork and exec) with its standard input and output
/// connected to the test: the test writes command lines and waits for answer lines.
class Peer_process
{
  public:
    /// Starts program with arguments; TARN1_COM_DIR is set to com_dir in the child. Throws
    /// std::system_error when the child cannot be made (a taken pid, a pid without privilege).
    Peer_process(const std::string& program,
                 const std::vector<std::string>& arguments,
                 const std::string& com_dir,
                 const Peer_options& options = {});
    /// Kills the child if it still runs and reaps it.
    ~Peer_process();

    Peer_process(const Peer_process&) = delete;
    Peer_process& operator=(const Peer_process&) = delete;

    void send_line(const std::string& line);
    /// Waits until the child printed a line equal to text; false after timeout or when it ended.
    bool wait_for_line(const std::string& text, std::chrono::milliseconds timeout);
    /// Waits until the child has printed at least count lines; false after timeout or when it ended.
    bool wait_for_line_count(std::size_t count, std::chrono::milliseconds timeout);
    /// Every line printed so far.
    const std::vector<std::string>& lines() const noexcept { return m_lines; }
    /// SIGKILL and reap.
    void kill();
    /// Closes its input and waits for it to end; returns the exit status (-1 on timeout or signal).
    int finish(std::chrono::milliseconds timeout);
    pid_t pid() const noexcept { return m_pid; }

  private:
    void reap();
    /// Takes what the child printed, waiting until deadline for something; false when nothing
    /// came or the child closed its output.
    bool read_more(std::chrono::steady_clock::time_point deadline);

    pid_t m_pid{-1};
    int m_to_child{-1};
    int m_from_child{-1};
    std::string m_partial;
    std::vector<std::string> m_lines;
    std::size_t m_next_match{0};
};

} // namespace tarn1::testing
