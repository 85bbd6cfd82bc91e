// The notification protocol over a real datagram socket in place of systemd's, with the
// environment a service manager gives the processes it starts.

#include "tarn1/service_manager/systemd_service_manager.hpp"
#include "testbed/support/notify_listener.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cstdlib>
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <unistd.h>

namespace tarn1::service_manager
{
namespace
{

using namespace std::chrono_literals;

class Systemd_service_manager_test : public ::testing::Test
{
  protected:
    Systemd_service_manager_test()
    {
        for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
        {
            ::unsetenv(name);
        }
    }
    ~Systemd_service_manager_test() override
    {
        for (const char* name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID"})
        {
            ::unsetenv(name);
        }
    }

    tarn1::testing::Temp_dir m_dir;
    tarn1::testing::Notify_listener m_listener{m_dir.file("notify")};
};

TEST_F(Systemd_service_manager_test, NotificationArrivesAsOneDatagramWithTheAssignments)
{
    ASSERT_TRUE(m_listener.is_bound());
    ::setenv("NOTIFY_SOCKET", m_listener.path().c_str(), 1);
    Systemd_service_manager sut;

    const int result = sut.notify("READY=1\nSTATUS=running");

    EXPECT_TRUE(sut.is_present());
    EXPECT_EQ(result, 1);
    ASSERT_TRUE(m_listener.wait_for_count(1, 5s));
    EXPECT_EQ(m_listener.notifications().front().text, "READY=1\nSTATUS=running");
}

TEST_F(Systemd_service_manager_test, WithoutNotifySocketNothingIsSentAndNothingFails)
{
    ::setenv("WATCHDOG_USEC", "1000000", 1);
    Systemd_service_manager sut;

    const int result = sut.notify("READY=1");

    EXPECT_FALSE(sut.is_present());
    EXPECT_EQ(result, 0);
    EXPECT_EQ(sut.watchdog_interval(), 0us);
    EXPECT_FALSE(m_listener.wait_for_count(1, 100ms));
}

TEST_F(Systemd_service_manager_test, SocketThatNobodyListensOnGivesANegativeErrno)
{
    ::setenv("NOTIFY_SOCKET", m_dir.file("nobody").c_str(), 1);
    Systemd_service_manager sut;

    const int result = sut.notify("READY=1");

    EXPECT_LT(result, 0);
}

struct Watchdog_case
{
    const char* label;
    const char* usec;
    /// "self" for this process's id, nullptr for unset
    const char* pid;
    std::chrono::microseconds expected;
};

void PrintTo(const Watchdog_case& value, std::ostream* os)
{
    *os << value.label;
}

class Systemd_watchdog_test : public Systemd_service_manager_test, public ::testing::WithParamInterface<Watchdog_case>
{
};

TEST_P(Systemd_watchdog_test, WatchdogIntervalComesFromTheEnvironmentForThisProcessOnly)
{
    ::setenv("NOTIFY_SOCKET", m_listener.path().c_str(), 1);
    if (GetParam().usec != nullptr)
    {
        ::setenv("WATCHDOG_USEC", GetParam().usec, 1);
    }
    if (GetParam().pid != nullptr)
    {
        const std::string pid =
            std::string{GetParam().pid} == "self" ? std::to_string(::getpid()) : std::string{GetParam().pid};
        ::setenv("WATCHDOG_PID", pid.c_str(), 1);
    }

    const Systemd_service_manager sut;

    EXPECT_EQ(sut.watchdog_interval(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Environments,
                         Systemd_watchdog_test,
                         ::testing::Values(Watchdog_case{"NotWatched", nullptr, nullptr, 0us},
                                           Watchdog_case{"WatchedWithoutPid", "2000000", nullptr, 2s},
                                           Watchdog_case{"WatchedWithOwnPid", "1500000", "self", 1500ms},
                                           Watchdog_case{"AnotherProcessIsWatched", "2000000", "1", 0us},
                                           Watchdog_case{"UnreadableInterval", "soon", nullptr, 0us},
                                           Watchdog_case{"ZeroInterval", "0", nullptr, 0us}),
                         [](const ::testing::TestParamInfo<Watchdog_case>& param)
                         { return std::string{param.param.label}; });

} // namespace
} // namespace tarn1::service_manager
