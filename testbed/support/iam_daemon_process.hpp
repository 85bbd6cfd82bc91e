#pragma once

#include "testbed/support/child_process.hpp"

#include <memory>
#include <string>

namespace tarn1::testing
{

/// The built IAM daemon, run by a test as root. It listens on its fixed path under /var/run, so it
/// runs in a private mount namespace in which a folder of the test is bound over /var/run, with
/// umask 0: processes of every uid reach its socket there, outside the namespace, without entering
/// it. Its standard output and error go to a file of that folder.
class Iam_daemon_process final
{
  public:
    /// folder must be reachable by the uids that are to connect; the daemon reads its alias rules
    /// and policy from the two files.
    Iam_daemon_process(std::string program, std::string folder, std::string alias_rules, std::string policy);
    /// Kills the daemon if it runs.
    ~Iam_daemon_process();

    Iam_daemon_process(const Iam_daemon_process&) = delete;
    Iam_daemon_process& operator=(const Iam_daemon_process&) = delete;

    /// Starts the daemon and waits until its socket takes connections; false with the reason when
    /// it cannot (no mount namespace without root, a daemon that ended).
    bool start(std::string& why_not);
    /// SIGKILL and reap; the socket file stays, refusing connections, until the next start.
    void kill();
    /// SIGSTOP: connections are still taken (by the kernel), nothing is answered.
    void pause();
    /// SIGCONT.
    void resume();
    /// The socket as every process outside the namespace reaches it.
    std::string socket() const { return m_folder + "/run/adaptive/tarn1_iam/iam"; }
    std::string log() const;

  private:
    std::string m_program;
    std::string m_folder;
    std::string m_alias_rules;
    std::string m_policy;
    std::unique_ptr<Child_process> m_child;
};

} // namespace tarn1::testing
