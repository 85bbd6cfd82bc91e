// Starts the built Statewarden as a child process. The daemon reads its configuration from the
// fixed folder /etc/adaptive and its input devices from /dev/input, so each run happens in a
// private mount namespace in which the first is a fresh tmpfs holding only what the test puts
// there, and the second is the test's own folder of stand-in devices (FIFOs, answered as event
// devices by the preloaded stand-in library). Where either folder does not exist, its parent is
// overlaid so it can be made; /run is a fresh tmpfs (the daemon makes its notification socket
// under /var/run). Nothing outside the namespace changes.

#include "platform/com/tests/peer_process.hpp"
#include "testbed/evdev_standin/evdev_writer.hpp"
#include "testbed/support/child_process.hpp"
#include "testbed/support/statewarden_configuration.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using namespace std::chrono_literals;

const char* const s_mount_script = R"(set -e
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs "$TARN1_SCRATCH"
overlay() {
    mkdir "$TARN1_SCRATCH/$2.upper" "$TARN1_SCRATCH/$2.work"
    mount -t overlay overlay -o "lowerdir=$1,upperdir=$TARN1_SCRATCH/$2.upper,workdir=$TARN1_SCRATCH/$2.work" "$1"
}
if [ -d /etc/adaptive ]; then
    mount -t tmpfs tmpfs /etc/adaptive
else
    overlay /etc etc
    mkdir /etc/adaptive
fi
cp -R "$TARN1_CONFIG_DIR/." /etc/adaptive/
if [ ! -d /dev/input ]; then
    overlay /dev dev
    mkdir /dev/input
fi
mount --bind "$TARN1_INPUT_DIR" /dev/input
export LD_PRELOAD="$TARN1_PRELOAD"
exec "$@"
)";

/// One program run inside the private mount namespace, with its output collected.
class Namespaced_process final
{
  public:
    Namespaced_process(const tarn1::testing::Temp_dir& dir, const std::string& program)
        : m_child(options(dir, program))
    {
    }

    bool started() const { return m_child.started(); }

    bool wait_for_output(const std::string& fragment, std::chrono::milliseconds timeout) const
    {
        return m_child.wait_for_output(fragment, timeout);
    }

    void send(int signal_number) const { m_child.send(signal_number); }

    /// The exit status, or -1 when the process did not end in time (it is killed at destruction).
    int wait_for_exit(std::chrono::milliseconds timeout) { return m_child.wait_for_exit(timeout); }

    std::string output() const { return m_child.output(); }

  private:
    static tarn1::testing::Child_options options(const tarn1::testing::Temp_dir& dir, const std::string& program)
    {
        tarn1::testing::Child_options options;
        options.argv = {"unshare", "--mount", "--propagation", "private", "sh", dir.file("mount.sh"), program};
        return options;
    }

    tarn1::testing::Child_process m_child;
};

std::string
configuration(unsigned int period_ms, bool nm_usage = true, const std::string& status_file = "/etc/adaptive/set_status")
{
    tarn1::testing::Statewarden_settings settings;
    settings.period_ms = period_ms;
    settings.nm_usage = nm_usage;
    settings.status_file = status_file;
    return tarn1::testing::statewarden_configuration(settings);
}

class Statewarden_test : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ::setenv("ARA_LOG_CONSOLE", "1", 1);
        ::setenv("ARA_LOG_DLT", "0", 1);
        ::unsetenv("ARA_LOG_LEVEL");
        m_dir.write_file("mount.sh", s_mount_script);
        m_config_dir = m_dir.file("config");
        m_scratch_dir = m_dir.file("scratch");
        m_input_dir = m_dir.file("input");
        m_com_dir = m_dir.file("com");
        ASSERT_EQ(::mkdir(m_config_dir.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(m_com_dir.c_str(), 0755), 0);
        // the daemon's services and the NM side meet in a discovery folder of this test only
        ::setenv("TARN1_COM_DIR", m_com_dir.c_str(), 1);
        ASSERT_EQ(::mkdir(m_scratch_dir.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(m_input_dir.c_str(), 0755), 0);
        ASSERT_TRUE(tarn1::evdev_standin::make_device(m_input_dir + "/event0"));
        ::setenv("TARN1_CONFIG_DIR", m_config_dir.c_str(), 1);
        ::setenv("TARN1_SCRATCH", m_scratch_dir.c_str(), 1);
        ::setenv("TARN1_INPUT_DIR", m_input_dir.c_str(), 1);
        ::setenv("TARN1_PRELOAD", TARN1_EVDEV_STANDIN_PRELOAD, 1);

        Namespaced_process probe(m_dir, "true");
        if (!probe.started() || probe.wait_for_exit(10s) != 0)
        {
            GTEST_SKIP() << "no private mount namespace with /etc/adaptive here (unshare --mount and mount need "
                            "root or CAP_SYS_ADMIN): "
                         << probe.output();
        }
    }

    /// The same configuration under every name the host name may choose.
    void install_configuration(const std::string& content)
    {
        for (const char* name : {"statewarden.json", "statewarden_hk.json", "statewarden_jo.json"})
        {
            m_dir.write_file(std::string{"config/"} + name, content);
        }
    }

    void TearDown() override { ::unsetenv("TARN1_COM_DIR"); }

    tarn1::testing::Temp_dir m_dir;
    std::string m_com_dir;
    std::string m_config_dir;
    std::string m_scratch_dir;
    std::string m_input_dir;
};

TEST_F(Statewarden_test, MissingConfigurationEndsWithStatus255)
{
    Namespaced_process sut(m_dir, TARN1_STATEWARDEN_PATH);

    const int status = sut.wait_for_exit(20s);

    EXPECT_EQ(status, 255) << sut.output();
    EXPECT_NE(sut.output().find("Configuration file could NOT be opened! Path: /etc/adaptive/statewarden"),
              std::string::npos);
    EXPECT_NE(sut.output().find("Configuration is ill formatted, Statewarden is aborted."), std::string::npos);
    EXPECT_EQ(sut.output().find("ReportApplicationState"), std::string::npos);
}

TEST_F(Statewarden_test, BrokenConfigurationEndsWithStatus255)
{
    install_configuration(configuration(20) + " and more");
    Namespaced_process sut(m_dir, TARN1_STATEWARDEN_PATH);

    const int status = sut.wait_for_exit(20s);

    EXPECT_EQ(status, 255) << sut.output();
    EXPECT_NE(sut.output().find("Failed to parse configuration: "), std::string::npos);
    EXPECT_NE(sut.output().find("Configuration is ill formatted, Statewarden is aborted."), std::string::npos);
}

TEST_F(Statewarden_test, MiddlewareThatCannotStartEndsWithStatus255)
{
    install_configuration(configuration(20));
    // the discovery folder would have to be made inside a regular file
    ::setenv("TARN1_COM_DIR", (m_dir.write_file("not_a_folder", "") + "/com").c_str(), 1);
    Namespaced_process sut(m_dir, TARN1_STATEWARDEN_PATH);

    const int status = sut.wait_for_exit(20s);

    EXPECT_EQ(status, 255) << sut.output();
    EXPECT_NE(sut.output().find("Communication middleware cannot be started: discovery directory "), std::string::npos);
    EXPECT_NE(sut.output().find(". Statewarden is aborted."), std::string::npos);
    EXPECT_EQ(sut.output().find("terminate called"), std::string::npos);
}

TEST_F(Statewarden_test, DeeplyNestedConfigurationEndsWithStatus255)
{
    // 100 000 levels of arrays inside "statewarden", beside valid keys
    std::string text = configuration(20);
    const std::string nesting = std::string(100000, '[') + std::string(100000, ']');
    text.insert(text.find("\"KnockOutTimer\""), "\"Nested\": " + nesting + ", ");
    install_configuration(text);
    Namespaced_process sut(m_dir, TARN1_STATEWARDEN_PATH);

    const int status = sut.wait_for_exit(20s);

    EXPECT_EQ(status, 255) << sut.output();
    EXPECT_NE(sut.output().find("Failed to parse configuration: objects and arrays nested deeper than 64 levels!"),
              std::string::npos);
    EXPECT_NE(sut.output().find("Configuration is ill formatted, Statewarden is aborted."), std::string::npos);
}

struct Signal_case
{
    const char* label;
    int signal_number;
};

void PrintTo(const Signal_case& value, std::ostream* os)
{
    *os << value.label;
}

class Statewarden_signal_test : public Statewarden_test, public ::testing::WithParamInterface<Signal_case>
{
};

TEST_P(Statewarden_signal_test, TerminationSignalEndsTheLoopInOrderWithStatus0)
{
    install_configuration(configuration(20));
    Namespaced_process sut(m_dir, TARN1_STATEWARDEN_PATH);
    ASSERT_TRUE(sut.wait_for_output("Statewarden daemon started", 20s)) << sut.output();
    // a few cycles of the loop pass before the signal
    ASSERT_TRUE(sut.wait_for_output("Starting Statewarden run_cyclic_task", 5s)) << sut.output();

    sut.send(GetParam().signal_number);
    const int status = sut.wait_for_exit(20s);

    EXPECT_EQ(status, 0) << sut.output();
    const std::string output = sut.output();
    const std::size_t received = output.find("SIGTERM received!");
    const std::size_t terminating = output.find("Statewarden reporting kTerminating to EM");
    const std::size_t down = output.find("Statewarden daemon shutting down");
    ASSERT_NE(received, std::string::npos) << output;
    ASSERT_NE(terminating, std::string::npos) << output;
    ASSERT_NE(down, std::string::npos) << output;
    EXPECT_LT(received, terminating);
    EXPECT_LT(terminating, down);
    EXPECT_NE(output.find("ReportApplicationState(kTerminating)"), std::string::npos);
}

TEST_F(Statewarden_test, KeyPressesOnTheInputDeviceBecomeCommands)
{
    install_configuration(configuration(20));
    Namespaced_process sut(m_dir, TARN1_STATEWARDEN_PATH);
    ASSERT_TRUE(sut.wait_for_output("Statewarden daemon started", 20s)) << sut.output();
    tarn1::evdev_standin::Evdev_writer hypervisor;
    ASSERT_TRUE(hypervisor.open(m_input_dir + "/event0", 10s));

    // the hypervisor presses P
    ASSERT_TRUE(hypervisor.press(tarn1::evdev_standin::keys::s_p));
    const bool prepare = sut.wait_for_output("New command receivedPrepareSD", 10s);
    // then R, then the power key
    ASSERT_TRUE(hypervisor.press(tarn1::evdev_standin::keys::s_r));
    const bool run = sut.wait_for_output("New command receivedRun", 10s);
    // the daemon may end on the power key before it is let go: the release may find no reader
    hypervisor.press(tarn1::evdev_standin::keys::s_power);
    const bool shutdown = sut.wait_for_output("New command receivedShutdown", 10s);
    // the device hangs up; the loop goes on without it
    hypervisor.close();
    sut.send(SIGTERM);
    const int status = sut.wait_for_exit(20s);

    EXPECT_TRUE(prepare) << sut.output();
    EXPECT_TRUE(run);
    EXPECT_TRUE(shutdown);
    EXPECT_EQ(status, 0) << sut.output();
    EXPECT_NE(sut.output().find("Adding devices from directory: /dev/input"), std::string::npos);
    EXPECT_EQ(sut.output().find("placeholder: virtual input"), std::string::npos);
}

/// Waits until the file holds exactly this text; false at the deadline.
bool wait_for_content(const tarn1::testing::Temp_dir& dir,
                      const std::string& name,
                      const std::string& expected,
                      std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (dir.read_file(name) != expected)
    {
        if (std::chrono::steady_clock::now() > deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST_F(Statewarden_test, StandbyResumeAndShutdownOnKeyPressesWalkThroughTheStatusFile)
{
    install_configuration(configuration(20, false, m_dir.file("set_status")));
    Namespaced_process sut(m_dir, TARN1_STATEWARDEN_PATH);
    tarn1::evdev_standin::Evdev_writer hypervisor;
    ASSERT_TRUE(hypervisor.open(m_input_dir + "/event0", 20s)) << sut.output();
    // without NM the machine runs at once
    ASSERT_TRUE(wait_for_content(m_dir, "set_status", "startinguprunning", 10s)) << sut.output();

    // the hypervisor presses P: standby is prepared, nobody needs notifying
    ASSERT_TRUE(hypervisor.press(tarn1::evdev_standin::keys::s_p));
    const bool standby = wait_for_content(m_dir, "set_status", "startinguprunningpreparingprepared4sd", 10s);
    // R resumes
    ASSERT_TRUE(hypervisor.press(tarn1::evdev_standin::keys::s_r));
    const bool resumed =
        wait_for_content(m_dir, "set_status", "startinguprunningpreparingprepared4sdresumingrunning", 10s);
    // the power key while running: a normal shutdown, which ends the daemon (it may be gone before
    // the key is let go, so the release may find no reader)
    hypervisor.press(tarn1::evdev_standin::keys::s_power);
    const int status = sut.wait_for_exit(20s);

    EXPECT_TRUE(standby) << m_dir.read_file("set_status") << sut.output();
    EXPECT_TRUE(resumed) << m_dir.read_file("set_status");
    EXPECT_EQ(status, 0) << sut.output();
    EXPECT_EQ(m_dir.read_file("set_status"), "startinguprunningpreparingprepared4sdresumingrunningshuttingdown");
    const std::string output = sut.output();
    std::size_t position = 0;
    for (const char* line : {"Statewarden transition fromStarting up to Running",
                             "Statewarden transition fromRunning to Preparing",
                             "Statewarden transition fromPreparing to PreparedSD",
                             "Statewarden transition fromPreparedSD to Resuming",
                             "Statewarden transition fromResuming to Running",
                             "Statewarden transition fromRunning to Shutting down",
                             "Normal shutdown executed",
                             "Setting EM machine state to shutdown",
                             "Statewarden reporting kTerminating to EM",
                             "Statewarden daemon shutting down"})
    {
        const std::size_t found = output.find(line, position);
        EXPECT_NE(found, std::string::npos) << line << " missing or out of order";
        position = found == std::string::npos ? position : found;
    }
}

TEST_F(Statewarden_test, NoInputDeviceFailsInitialisationAndEndsWithStatus0)
{
    ASSERT_EQ(::unlink((m_input_dir + "/event0").c_str()), 0);
    install_configuration(configuration(20));
    Namespaced_process sut(m_dir, TARN1_STATEWARDEN_PATH);

    const int status = sut.wait_for_exit(20s);

    EXPECT_EQ(status, 0) << sut.output();
    const std::string output = sut.output();
    EXPECT_NE(output.find("No key event input device found that supports both EV_KEY and EV_MSC"), std::string::npos);
    EXPECT_NE(output.find("Failed to initialize Statewarden!"), std::string::npos);
    EXPECT_NE(output.find("Statewarden daemon shutting down"), std::string::npos);
    EXPECT_EQ(output.find("ReportApplicationState"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Signals,
                         Statewarden_signal_test,
                         ::testing::Values(Signal_case{"Sigterm", SIGTERM}, Signal_case{"Sigint", SIGINT}),
                         [](const ::testing::TestParamInfo<Signal_case>& param)
                         { return std::string{param.param.label}; });

} // namespace

namespace
{

/// Runs com_tool with these arguments against the test's discovery folder: its exit status, and
/// what it wrote in output when given.
int com_tool(const std::string& com_dir, const std::vector<std::string>& arguments, std::string* output = nullptr)
{
    tarn1::testing::Child_options options;
    options.argv = {TARN1_COM_TOOL_PATH};
    options.argv.insert(options.argv.end(), arguments.begin(), arguments.end());
    options.environment = {"TARN1_COM_DIR=" + com_dir};
    tarn1::testing::Child_process tool(std::move(options));
    const int status = tool.wait_for_exit(20s);
    if (output != nullptr)
    {
        *output = tool.output();
    }
    return status;
}

TEST_F(Statewarden_test, ApplicationRequestThroughTheMiddlewareReachesTheNmUserData)
{
    install_configuration(configuration(20));
    Namespaced_process sut(m_dir, TARN1_STATEWARDEN_PATH);
    ASSERT_TRUE(sut.wait_for_output("Looking up UdpNM services...", 20s)) << sut.output();
    ASSERT_TRUE(sut.wait_for_output("Starting Statewarden run_cyclic_task", 5s)) << sut.output();
    EXPECT_EQ(sut.output().find("Offering COM alive services"), std::string::npos);

    // the UDP network management comes up
    tarn1::testing::Peer_process nm(TARN1_NM_SERVICE_PEER_PATH, {}, m_com_dir);
    nm.send_line("offer user_data");
    nm.send_line("offer network_state");
    ASSERT_TRUE(sut.wait_for_output("Offering CWU services", 20s)) << sut.output();
    EXPECT_TRUE(nm.wait_for_line("SetUserData 800000", 10s));
    EXPECT_TRUE(nm.wait_for_line("ReleaseNetwork ffffff01", 10s));

    // an application keeps communication alive with CAB bit 0 and AC 3
    std::string output;
    const int status = com_tool(
        m_com_dir, {"call", "StateManagementComAliveInterface", "com", "RequestComAlive", "01000000", "3"}, &output);

    EXPECT_EQ(status, 0) << output;
    EXPECT_TRUE(nm.wait_for_line("RequestNetwork 01000000", 10s));
    EXPECT_TRUE(nm.wait_for_line("SetUserData 800400", 10s));
    sut.send(SIGTERM);
    EXPECT_EQ(sut.wait_for_exit(20s), 0) << sut.output();
}

TEST_F(Statewarden_test, NmErrorRepliesAreLoggedAndTheDaemonGoesOn)
{
    install_configuration(configuration(20, true, m_dir.file("set_status")));
    Namespaced_process sut(m_dir, TARN1_STATEWARDEN_PATH);
    ASSERT_TRUE(sut.wait_for_output("Looking up UdpNM services...", 20s)) << sut.output();
    // the UDP network management refuses every call with return code 0x01
    tarn1::testing::Peer_process nm(TARN1_NM_SERVICE_PEER_PATH, {}, m_com_dir);
    nm.send_line("answer error 01");
    ASSERT_TRUE(nm.wait_for_line("answering error", 10s));

    // both NM services are found: the first user data and the full release are refused
    nm.send_line("offer user_data");
    nm.send_line("offer network_state");
    ASSERT_TRUE(wait_for_content(m_dir, "set_status", "startinguprunning", 20s)) << sut.output();
    // an application keeps communication alive: its network request and user data are refused
    const int requested =
        com_tool(m_com_dir, {"call", "StateManagementComAliveInterface", "com", "RequestComAlive", "01000000", "3"});
    const bool user_data_sent = nm.wait_for_line("SetUserData 800400", 10s);
    sut.send(SIGTERM);
    const int status = sut.wait_for_exit(20s);

    EXPECT_EQ(requested, 0);
    EXPECT_TRUE(user_data_sent);
    EXPECT_EQ(status, 0) << sut.output();
    const std::string output = sut.output();
    EXPECT_NE(output.find("NM call SetUserData failed with return code 0x01"), std::string::npos) << output;
    EXPECT_NE(output.find("NM call ReleaseNetwork failed with return code 0x01"), std::string::npos);
    EXPECT_NE(output.find("NM call RequestNetwork failed with return code 0x01"), std::string::npos);
    EXPECT_EQ(output.find("terminate called"), std::string::npos);
}

/// Waits until the file holds exactly this text; the time it took, or nothing at the deadline.
std::optional<std::chrono::milliseconds> time_until_content(const tarn1::testing::Temp_dir& dir,
                                                            const std::string& name,
                                                            const std::string& expected,
                                                            std::chrono::milliseconds timeout)
{
    const auto start = std::chrono::steady_clock::now();
    if (!wait_for_content(dir, name, expected, timeout))
    {
        return std::nullopt;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
}

TEST_F(Statewarden_test, StandbyAndResumeWithASilentNmSideCompleteWithinSixSeconds)
{
    install_configuration(configuration(20, true, m_dir.file("set_status")));
    Namespaced_process sut(m_dir, TARN1_STATEWARDEN_PATH);
    tarn1::evdev_standin::Evdev_writer hypervisor;
    ASSERT_TRUE(hypervisor.open(m_input_dir + "/event0", 20s)) << sut.output();
    tarn1::testing::Peer_process nm(TARN1_NM_SERVICE_PEER_PATH, {}, m_com_dir);
    nm.send_line("offer user_data");
    nm.send_line("offer network_state");
    ASSERT_TRUE(wait_for_content(m_dir, "set_status", "startinguprunning", 20s)) << sut.output();
    ASSERT_TRUE(nm.wait_for_line("RequestNetwork 00000001", 10s));

    // the UDP network management stops answering; no notification client is connected
    nm.send_line("answer silent");
    ASSERT_TRUE(nm.wait_for_line("answering silent", 10s));
    // the hypervisor presses P, then R once the machine is prepared
    ASSERT_TRUE(hypervisor.press(tarn1::evdev_standin::keys::s_p));
    const auto standby = time_until_content(m_dir, "set_status", "startinguprunningpreparingprepared4sd", 6s);
    ASSERT_TRUE(hypervisor.press(tarn1::evdev_standin::keys::s_r));
    const auto resume =
        time_until_content(m_dir, "set_status", "startinguprunningpreparingprepared4sdresumingrunning", 6s);
    sut.send(SIGTERM);
    const int status = sut.wait_for_exit(20s);

    EXPECT_TRUE(standby.has_value()) << m_dir.read_file("set_status") << sut.output();
    EXPECT_TRUE(resume.has_value()) << m_dir.read_file("set_status");
    EXPECT_EQ(status, 0) << sut.output();
    EXPECT_NE(sut.output().find("infrastructure exception no reply within 1000 ms"), std::string::npos);
}

} // namespace
