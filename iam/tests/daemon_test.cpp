// Black-box runs of the built daemon. The daemon listens on its fixed path under
// /var/run/adaptive, so each run gets a private mount namespace with an empty tmpfs over
// /var/run; the test reaches the socket through /proc/<pid>/root. Runs whose clients are other
// users get a folder of the test's own over /var/run instead, which everyone can reach.

#include "iam/tests/peer_process.hpp"
#include "iam/tests/unix_client.hpp"
#include "testbed/support/child_process.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vela::iam
{
namespace
{

using testing::Peer_process;
using testing::posix_request_text;
using testing::response_bytes;
using testing::Unix_client;
using Clock = std::chrono::steady_clock;

/// Exit status of a child that could not make its mount namespace.
constexpr int no_namespace_status = 77;

struct Daemon_case
{
    const char* name;
    bool stale_socket_file;
};

/// How the daemon is started besides its fixed environment.
struct Daemon_start
{
    bool stale_socket_file{false};
    /// RLIMIT_NOFILE of the daemon; 0 leaves the test's own.
    rlim_t descriptor_limit{0};
    /// Socket and folders reachable by every uid: /var/run is a folder of the test, the umask 0.
    bool open_to_all{false};
};

class Daemon_fixture : public ::testing::Test
{
  protected:
    /// Starts the daemon in its own mount namespace; false (with the reason in m_skip_reason) when
    /// no namespace can be made here.
    bool start_daemon(const Daemon_start& how)
    {
        const std::string run_folder = m_dir.file("run");
        if (how.open_to_all && (::chmod(m_dir.path().c_str(), 0755) != 0 || ::mkdir(run_folder.c_str(), 0755) != 0))
        {
            m_skip_reason = "cannot make a run folder for everyone";
            return false;
        }
        tarn1::testing::Child_options options;
        options.argv = {TARN1_IAM_DAEMON_PATH};
        options.environment = {"TARN1_IAM_ALIAS_RULES=" + m_dir.write_file("alias.conf", "1000 1000 * app\n"),
                               "TARN1_IAM_POLICY=" + m_dir.write_file("policy.conf", "allow app - SOMEIP 1234 *\n"),
                               "ARA_LOG_LEVEL=debug",
                               "ARA_LOG_CONSOLE=1",
                               "ARA_LOG_DLT=0"};
        options.inherit_environment = false;
        options.output_file = m_dir.file("daemon.log");
        options.before_exec = [how, run = run_folder.c_str()]
        {
            // only system calls from here on: the parent has threads
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                (how.open_to_all ? ::mount(run, "/var/run", nullptr, MS_BIND, nullptr)
                                 : ::mount("tmpfs", "/var/run", "tmpfs", 0, "mode=0755")) != 0)
            {
                return no_namespace_status;
            }
            const rlimit descriptors{how.descriptor_limit, how.descriptor_limit};
            if (how.descriptor_limit != 0 && ::setrlimit(RLIMIT_NOFILE, &descriptors) != 0)
            {
                return 127;
            }
            if (how.open_to_all)
            {
                ::umask(0);
            }
            if (how.stale_socket_file)
            {
                ::mkdir("/var/run/adaptive", 0755);
                ::mkdir("/var/run/adaptive/tarn1_iam", 0755);
                ::close(::open("/var/run/adaptive/tarn1_iam/iam", O_CREAT | O_WRONLY, 0644));
            }
            return 0;
        };
        m_daemon = std::make_unique<tarn1::testing::Child_process>(std::move(options));

        // wait until the child has its own namespace (or gave up)
        const std::string own_namespace = link_of("/proc/self/ns/mnt");
        const pid_t pid = m_daemon->pid();
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline)
        {
            const int status = m_daemon->wait_for_exit(std::chrono::milliseconds(0));
            if (status >= 0)
            {
                m_skip_reason = status == no_namespace_status
                                    ? "needs a private mount namespace over /var/run (run as root)"
                                    : "daemon ended at start-up: " + m_dir.read_file("daemon.log");
                return false;
            }
            const std::string child_namespace = link_of("/proc/" + std::to_string(pid) + "/ns/mnt");
            if (!child_namespace.empty() && child_namespace != own_namespace)
            {
                // /var/run is often a link to /run, which /proc/<pid>/root would resolve in our own root
                char real_run[PATH_MAX] = {};
                if (::realpath("/var/run", real_run) == nullptr)
                {
                    std::strcpy(real_run, "/var/run");
                }
                m_socket = how.open_to_all
                               ? run_folder + "/adaptive/tarn1_iam/iam"
                               : "/proc/" + std::to_string(pid) + "/root" + real_run + "/adaptive/tarn1_iam/iam";
                return true;
            }
            // the namespace switch has no event to wait on
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        m_skip_reason = "child never entered its namespace";
        return false;
    }

    /// Sends SIGTERM and returns the exit status, or -1 when the daemon does not end in time.
    int terminate_daemon()
    {
        m_daemon->send(SIGTERM);
        return m_daemon->wait_for_exit(std::chrono::seconds(5));
    }

    static std::string link_of(const std::string& path)
    {
        char target[256] = {};
        const auto length = ::readlink(path.c_str(), target, sizeof(target) - 1);
        return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
    }

    /// Runs the client tool with arguments; its output and exit status.
    std::pair<std::string, int> run_client_tool(const std::string& arguments) const
    {
        const std::string command = std::string(TARN1_IAM_CLIENT_PATH) + " --socket " + m_socket + " " + arguments;
        FILE* pipe = ::popen(command.c_str(), "r");
        std::string output;
        char buffer[256];
        while (pipe != nullptr && std::fgets(buffer, sizeof(buffer), pipe) != nullptr)
        {
            output += buffer;
        }
        const int status = pipe != nullptr ? ::pclose(pipe) : -1;
        return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    }

    tarn1::testing::Temp_dir m_dir;
    std::unique_ptr<tarn1::testing::Child_process> m_daemon;
    std::string m_socket;
    std::string m_skip_reason;
};

class Daemon_test : public Daemon_fixture, public ::testing::WithParamInterface<Daemon_case>
{
};

TEST_P(Daemon_test, ServesUntilSigtermThenExitsWithZero)
{
    if (!start_daemon(Daemon_start{GetParam().stale_socket_file}))
    {
        GTEST_SKIP() << m_skip_reason;
    }

    Unix_client client(m_socket);
    ASSERT_TRUE(client.connected()) << m_dir.read_file("daemon.log");
    const auto allowed = client.ask(posix_request_text(1000, 0x1234));
    const auto denied = client.ask(posix_request_text(1000, 0x4321));
    const auto unknown_process = client.ask(posix_request_text(5, 0x1234));
    const auto tool = run_client_tool("posix 1000 1000 7 call 0x1234 1");
    const auto tool_denied = run_client_tool("tcpip fe80::1%1 30501 find 0x1234");
    const int exit_status = terminate_daemon();

    EXPECT_EQ(allowed, Decision::allowed);
    EXPECT_EQ(denied, Decision::denied);
    EXPECT_EQ(unknown_process, Decision::error);
    EXPECT_EQ(tool, std::make_pair(std::string("allowed\n"), 0));
    EXPECT_EQ(tool_denied, std::make_pair(std::string("denied\n"), 1));
    EXPECT_EQ(exit_status, 0);
    const std::string log = m_dir.read_file("daemon.log");
    EXPECT_NE(log.find("main: tarn1_iam_daemon started. Version: 1.2.19"), std::string::npos) << log;
    EXPECT_NE(log.find("ReportApplicationState(kTerminating)"), std::string::npos) << log;
    EXPECT_NE(log.find("main: tarn1_iam_daemon finished"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Daemon_test,
                         Daemon_test,
                         ::testing::Values(Daemon_case{"SocketFolderMissing", false},
                                           Daemon_case{"StaleSocketFileLeftBehind", true}),
                         [](const ::testing::TestParamInfo<Daemon_case>& param) { return param.param.name; });

using Daemon_flood_test = Daemon_fixture;

TEST_F(Daemon_flood_test, WithFewDescriptorsOneFloodingUidCannotLockAnotherOut)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "needs root to run clients under other uids";
    }
    // 64 descriptors: 32 sessions, 16 of them for one uid
    if (!start_daemon(Daemon_start{false, 64, true}))
    {
        GTEST_SKIP() << m_skip_reason;
    }
    const std::string request = posix_request_text(1000, 0x1234);
    const std::string allowed = response_bytes(Decision::allowed);
    ASSERT_EQ(Unix_client(m_socket).ask(request), Decision::allowed) << m_dir.read_file("daemon.log");

    const Peer_process flood(m_socket, 60001, 200, request, allowed);
    const auto flood_report = flood.report();
    const Peer_process other(m_socket, 60002, 1, request, allowed);
    const auto other_report = other.report();

    ASSERT_TRUE(flood_report.has_value());
    ASSERT_TRUE(other_report.has_value());
    EXPECT_EQ(flood_report->answered, 16);
    EXPECT_EQ(flood_report->closed, 184);
    EXPECT_EQ(other_report->answered, 1) << m_dir.read_file("daemon.log");
    EXPECT_NE(m_dir.read_file("daemon.log")
                  .find("Server::handle_accept: uid 60001 reached its session limit 16, connection closed"),
              std::string::npos);
}

} // namespace
} // namespace vela::iam
