// The built daemons started as a service manager starts them: with a notification socket
// ($NOTIFY_SOCKET, here a datagram socket of this test) and a watchdog interval ($WATCHDOG_USEC).
// Each daemon runs in a private mount namespace whose VM paths (/etc/adaptive, /dev/input,
// /sys/vmctl, /run/adaptive, /var/run/adaptive) are empty folders of its own (testbed/vm_paths.sh);
// the test stands in for the hypervisor's keyboard with a stand-in input device.

#include "testbed/evdev_standin/evdev_writer.hpp"
#include "testbed/support/namespaced_daemon.hpp"
#include "testbed/support/notify_listener.hpp"
#include "testbed/support/statewarden_configuration.hpp"
#include "testbed/support/temp_dir.hpp"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using tarn1::testing::Namespaced_daemon;
using tarn1::testing::Notification;
using tarn1::testing::Notify_listener;
namespace standin = tarn1::evdev_standin;

constexpr const char* s_watchdog = "WATCHDOG=1";

std::string statewarden_configuration(const std::string& dir)
{
    tarn1::testing::Statewarden_settings settings = tarn1::testing::settings_with_control_files_in(dir);
    settings.nm_usage = false;
    settings.request_network_on_entry = false;
    settings.period_ms = 50;
    settings.application_timeout_s = 1;
    settings.diagnostic_timeout_s = 1;
    settings.power_manager_timeout_s = 1;
    return tarn1::testing::statewarden_configuration(settings);
}

bool can_connect(const std::string& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path))
    {
        return false;
    }
    path.copy(address.sun_path, path.size());
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // NOLINTNEXTLINE(cppcoreguidelines-pro-type-reinterpret-cast): the socket API takes the generic address
    const bool connected = ::connect(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(descriptor);
    return connected;
}

/// The STATUS= values in arrival order.
std::vector<std::string> status_lines(const std::vector<Notification>& notifications)
{
    std::vector<std::string> lines;
    for (const auto& notification : notifications)
    {
        const auto at = notification.text.find("STATUS=");
        if (at != std::string::npos)
        {
            lines.push_back(notification.text.substr(at + 7, notification.text.find('\n', at) - at - 7));
        }
    }
    return lines;
}

/// Arrival times of the keep-alives among notifications[from, to).
std::vector<Clock::time_point>
keep_alives(const std::vector<Notification>& notifications, std::size_t from, std::size_t to)
{
    std::vector<Clock::time_point> times;
    for (std::size_t index = from; index < to && index < notifications.size(); ++index)
    {
        if (notifications[index].text == s_watchdog)
        {
            times.push_back(notifications[index].received);
        }
    }
    return times;
}

/// The notifications with their arrival times relative to the first, for failure messages.
std::string describe(const std::vector<Notification>& notifications)
{
    std::string text;
    for (const auto& notification : notifications)
    {
        const auto at =
            std::chrono::duration_cast<std::chrono::milliseconds>(notification.received - notifications[0].received);
        text += std::to_string(at.count()) + " ms: " + notification.text + "\n";
    }
    return text;
}

std::chrono::milliseconds longest_gap(const std::vector<Clock::time_point>& times)
{
    std::chrono::milliseconds longest{0};
    for (std::size_t index = 1; index < times.size(); ++index)
    {
        longest =
            std::max(longest, std::chrono::duration_cast<std::chrono::milliseconds>(times[index] - times[index - 1]));
    }
    return longest;
}

class Service_notify_test : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_listener.is_bound());
        m_dir.write_file("statewarden.json", statewarden_configuration(m_dir.path()));
        m_dir.write_file("set_status", "");
        m_dir.write_file("command_request", "");
        ASSERT_EQ(::mkdir(m_input_dir.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(m_com_dir.c_str(), 0755), 0);
        ASSERT_TRUE(standin::make_device(m_input_dir + "/event0"));

        Namespaced_daemon probe(m_dir, "true", {});
        if (probe.wait_for_exit(10s) != 0)
        {
            GTEST_SKIP() << "no private mount namespace with the VM paths here (unshare --mount and mount need "
                            "root or CAP_SYS_ADMIN): "
                         << probe.output();
        }
    }

    /// The environment of a daemon that a service manager watches with watchdog_usec.
    std::vector<std::string> managed_environment(const std::string& watchdog_usec) const
    {
        auto environment = plain_environment();
        environment.push_back("NOTIFY_SOCKET=" + m_listener.path());
        environment.push_back("WATCHDOG_USEC=" + watchdog_usec);
        return environment;
    }

    std::vector<std::string> plain_environment() const
    {
        return {"TARN1_INPUT_DIR=" + m_input_dir,
                std::string("TARN1_PRELOAD=") + TARN1_EVDEV_STANDIN_PRELOAD,
                "TARN1_COM_DIR=" + m_com_dir,
                "TARN1_IAM_ALIAS_RULES=" + m_dir.file("alias.conf"),
                "TARN1_IAM_POLICY=" + m_dir.file("policy.conf"),
                "ARA_LOG_LEVEL=info",
                "ARA_LOG_CONSOLE=1",
                "ARA_LOG_DLT=0"};
    }

    tarn1::testing::Temp_dir m_dir;
    std::string m_input_dir{m_dir.file("input")};
    std::string m_com_dir{m_dir.file("com")};
    Notify_listener m_listener{m_dir.file("notify")};
};

TEST_F(Service_notify_test, StatewardenIsReadyInStartingUpThenShowsEachStatusWordOfAStandbyResumeAndShutdown)
{
    Namespaced_daemon sut(m_dir, TARN1_STATEWARDEN_PATH, managed_environment("1000000"));
    const auto ready = m_listener.wait_for("READY=1", 20s);
    ASSERT_TRUE(ready.has_value()) << sut.output();
    // ready means the notification socket listens already
    const bool notification_socket = can_connect(sut.inside("/var/run/adaptive/ara_SM/ara_SM.socket"));
    standin::Evdev_writer hypervisor;
    ASSERT_TRUE(hypervisor.open(m_input_dir + "/event0", 10s)) << sut.output();
    ASSERT_TRUE(m_listener.wait_for("STATUS=running", 10s, *ready + 1)) << sut.output();

    // the hypervisor presses P: standby is prepared
    ASSERT_TRUE(hypervisor.press(standin::keys::s_p));
    const auto prepared = m_listener.wait_for("STATUS=prepared4sd", 10s);
    // R resumes
    ASSERT_TRUE(hypervisor.press(standin::keys::s_r));
    const auto resumed = m_listener.wait_for("STATUS=running", 10s, prepared.value_or(0));
    // the power key: a normal shutdown ends the daemon (it may be gone before the key is let go)
    hypervisor.press(standin::keys::s_power);
    const auto stopping = m_listener.wait_for("STOPPING=1", 10s);
    const int status = sut.wait_for_exit(10s);

    EXPECT_TRUE(notification_socket);
    EXPECT_TRUE(prepared.has_value()) << sut.output();
    EXPECT_TRUE(resumed.has_value()) << sut.output();
    ASSERT_TRUE(stopping.has_value()) << sut.output();
    EXPECT_EQ(status, 0) << sut.output();
    const auto notifications = m_listener.notifications();
    EXPECT_EQ(notifications[*ready].text, "READY=1\nSTATUS=running");
    // the state words in order, with the daemon's own "running" at readiness, in Starting up
    EXPECT_EQ(
        status_lines(notifications),
        (std::vector<std::string>{
            "startingup", "running", "running", "preparing", "prepared4sd", "resuming", "running", "shuttingdown"}));
    EXPECT_EQ(*stopping, notifications.size() - 1) << "nothing after STOPPING=1";
    // the loop kept cycling throughout: from readiness to stopping, keep-alives at least every half
    // watchdog interval
    auto times = keep_alives(notifications, *ready, *stopping);
    EXPECT_FALSE(times.empty());
    times.insert(times.begin(), notifications[*ready].received);
    times.push_back(notifications[*stopping].received);
    EXPECT_LE(longest_gap(times), 500ms);
    EXPECT_EQ(m_dir.read_file("set_status"), "startinguprunningpreparingprepared4sdresumingrunningshuttingdown");
}

TEST_F(Service_notify_test, StatewardenKeepAlivesStopWhileItsLoopIsFrozenAndStoppingFollowsSigterm)
{
    Namespaced_daemon sut(m_dir, TARN1_STATEWARDEN_PATH, managed_environment("1000000"));
    ASSERT_TRUE(m_listener.wait_for("READY=1", 20s)) << sut.output();
    const auto first = m_listener.wait_for(s_watchdog, 5s);
    ASSERT_TRUE(first.has_value()) << sut.output();
    ASSERT_TRUE(m_listener.wait_for(s_watchdog, 5s, *first + 1)) << sut.output();

    // the main loop stops cycling
    sut.send(SIGSTOP);
    const auto frozen_at = m_listener.notifications().size();
    // a keep-alive already on its way may still arrive; after that, none for longer than the
    // service manager would wait
    const auto during_freeze = m_listener.wait_for(s_watchdog, 1500ms, frozen_at + 1);
    const auto thawed_at = m_listener.notifications().size();
    sut.send(SIGCONT);
    const auto after_thaw = m_listener.wait_for(s_watchdog, 2s, thawed_at);
    sut.send(SIGTERM);
    const auto stopping = m_listener.wait_for("STOPPING=1", 10s);
    const int status = sut.wait_for_exit(10s);

    EXPECT_FALSE(during_freeze.has_value());
    EXPECT_TRUE(after_thaw.has_value());
    EXPECT_TRUE(stopping.has_value()) << sut.output();
    EXPECT_EQ(status, 0) << sut.output();
}

TEST_F(Service_notify_test, IamDaemonIsReadyWithItsSocketListeningKeepsTheWatchdogAliveAndStopsOnSigterm)
{
    // the alive timer ticks every 3 s: a 7 s watchdog wants a keep-alive at least every 3.5 s
    Namespaced_daemon sut(m_dir, TARN1_IAM_DAEMON_PATH, managed_environment("7000000"));
    const auto ready = m_listener.wait_for("READY=1", 20s);
    ASSERT_TRUE(ready.has_value()) << sut.output();
    const bool listening = can_connect(sut.inside("/var/run/adaptive/tarn1_iam/iam"));
    const auto first = m_listener.wait_for(s_watchdog, 5s);
    ASSERT_TRUE(first.has_value()) << sut.output();
    const auto second = m_listener.wait_for(s_watchdog, 5s, *first + 1);
    ASSERT_TRUE(second.has_value()) << sut.output();

    // the event loop stops
    sut.send(SIGSTOP);
    const auto frozen_at = m_listener.notifications().size();
    const auto during_freeze = m_listener.wait_for(s_watchdog, 4s, frozen_at);
    const auto thawed_at = m_listener.notifications().size();
    sut.send(SIGCONT);
    // the next tick comes at the latest one period after the thaw
    const auto after_thaw = m_listener.wait_for(s_watchdog, 5s, thawed_at);
    sut.send(SIGTERM);
    const auto stopping = m_listener.wait_for("STOPPING=1", 10s);
    const int status = sut.wait_for_exit(10s);

    EXPECT_TRUE(listening);
    const auto notifications = m_listener.notifications();
    // report_ready, then kRunning
    EXPECT_EQ(notifications[*ready].text, "READY=1");
    EXPECT_EQ(notifications.at(*ready + 1).text, "READY=1\nSTATUS=running");
    EXPECT_LE(notifications[*second].received - notifications[*first].received, 3500ms);
    EXPECT_FALSE(during_freeze.has_value()) << describe(notifications);
    EXPECT_TRUE(after_thaw.has_value()) << describe(notifications) << sut.output();
    ASSERT_TRUE(stopping.has_value()) << sut.output();
    EXPECT_EQ(*stopping, m_listener.notifications().size() - 1);
    EXPECT_EQ(status, 0) << sut.output();
}

struct Unmanaged_case
{
    const char* label;
    const char* program;
    const char* started;
};

class Service_notify_unmanaged_test : public Service_notify_test, public ::testing::WithParamInterface<Unmanaged_case>
{
};

TEST_P(Service_notify_unmanaged_test, WithoutNotifySocketNothingIsSentAndNothingIsWarned)
{
    // a watchdog interval alone (no socket) must not make the daemon try anything
    auto environment = plain_environment();
    environment.emplace_back("WATCHDOG_USEC=1000000");
    Namespaced_daemon sut(m_dir, GetParam().program, environment);
    const auto deadline = Clock::now() + 20s;
    while (sut.output().find(GetParam().started) == std::string::npos && Clock::now() < deadline)
    {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_NE(sut.output().find(GetParam().started), std::string::npos) << sut.output();

    sut.send(SIGTERM);
    const int status = sut.wait_for_exit(10s);

    EXPECT_EQ(status, 0) << sut.output();
    const std::string output = sut.output();
    EXPECT_NE(output.find("ReportApplicationState(kTerminating)"), std::string::npos) << output;
    EXPECT_EQ(output.find("[warn]"), std::string::npos) << output;
    EXPECT_EQ(output.find("service manager"), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Daemons,
    Service_notify_unmanaged_test,
    ::testing::Values(Unmanaged_case{"Statewarden", TARN1_STATEWARDEN_PATH, "Statewarden daemon started"},
                      Unmanaged_case{"IamDaemon", TARN1_IAM_DAEMON_PATH, "ReportApplicationState(kRunning)"}),
    [](const ::testing::TestParamInfo<Unmanaged_case>& param) { return std::string{param.param.label}; });

} // namespace
