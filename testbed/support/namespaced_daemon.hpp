#pragma once

#include "testbed/support/child_process.hpp"
#include "testbed/support/temp_dir.hpp"

#include <chrono>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

namespace tarn1::testing
{

/// How a Namespaced_daemon is started besides its program and environment.
struct Namespaced_daemon_options
{
    /// Soft RLIMIT_NOFILE of the daemon (what `ulimit -n` sets); 0 keeps the test's own.
    rlim_t descriptor_limit{0};
    /// A folder of the test bound over /var/run/adaptive, so that the daemon's sockets there can
    /// be reached from outside (by every user, where the folders allow); empty keeps a private one.
    std::string run_folder;
    /// The daemon's output, a file of the test's folder.
    std::string log_name{"daemon.log"};
};

/// A daemon started in its own mount namespace whose VM paths (/etc/adaptive, /dev/input,
/// /sys/vmctl, /run/adaptive, /var/run/adaptive) are empty folders of its own (testbed/vm_paths.sh),
/// with the given environment and its output in a file. The configuration is dir's
/// "statewarden.json"; TARN1_INPUT_DIR in the environment names a folder bound over /dev/input and
/// TARN1_PRELOAD a library preloaded into the program. The child keeps its process id (unshare and
/// the shells exec one another), so signals and /proc/<pid> reach the daemon itself. Killed and
/// reaped on destruction if it still runs.
class Namespaced_daemon final
{
  public:
    Namespaced_daemon(const Temp_dir& dir,
                      const std::string& program,
                      const std::vector<std::string>& environment,
                      const Namespaced_daemon_options& options = Namespaced_daemon_options{});
    ~Namespaced_daemon() = default;

    Namespaced_daemon(const Namespaced_daemon&) = delete;
    Namespaced_daemon& operator=(const Namespaced_daemon&) = delete;

    pid_t pid() const { return m_child.pid(); }
    void send(int signal_number) const { m_child.send(signal_number); }
    /// Whether the process still runs (it has not ended, nor become a zombie).
    bool running() const { return m_child.running(); }

    /// The exit status, or -1 when the daemon did not end in time.
    int wait_for_exit(std::chrono::milliseconds timeout) { return m_child.wait_for_exit(timeout); }

    /// Everything it has written so far.
    std::string output() const { return m_child.output(); }
    /// Waits until its output holds fragment; false at the deadline or when it ended.
    bool wait_for_output(const std::string& fragment, std::chrono::milliseconds timeout) const
    {
        return m_child.wait_for_output(fragment, timeout);
    }

    /// path inside the daemon's namespace, as reachable from outside it (by root).
    std::string inside(const std::string& path) const;

  private:
    Child_process m_child;
};

} // namespace tarn1::testing
