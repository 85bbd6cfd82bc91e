#include "ara/log/testing/log_capture.h"
#include "kest/psp/startup/report_ready.h"
#include "testbed/support/temp_dir.hpp"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kest::psp::startup
{
namespace
{

/// A datagram socket in the place of systemd's notification socket.
class Notify_socket final
{
  public:
    explicit Notify_socket(const std::string& path)
        : m_descriptor(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        if (::bind(m_descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
        {
            ADD_FAILURE() << "bind " << path << ": " << std::strerror(errno);
        }
    }
    ~Notify_socket() { ::close(m_descriptor); }
    Notify_socket(const Notify_socket&) = delete;
    Notify_socket& operator=(const Notify_socket&) = delete;

    /// The datagram waiting, or an empty text when none is.
    std::string take() const
    {
        char buffer[64] = {};
        const auto received = ::recv(m_descriptor, buffer, sizeof(buffer), MSG_DONTWAIT);
        return received > 0 ? std::string(buffer, static_cast<std::size_t>(received)) : std::string();
    }

  private:
    int m_descriptor;
};

class report_ready_test : public ::testing::Test
{
  protected:
    ~report_ready_test() override { ::unsetenv("NOTIFY_SOCKET"); }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
};

TEST_F(report_ready_test, StartedBySystemdSendsReadyToTheNotifySocket)
{
    Notify_socket notify(m_dir.file("notify"));
    ::setenv("NOTIFY_SOCKET", m_dir.file("notify").c_str(), 1);

    report_ready();

    EXPECT_EQ(notify.take(), "READY=1");
    EXPECT_EQ(m_capture.count("report_ready", ara::log::LogLevel::kInfo), 1U);
}

TEST_F(report_ready_test, UnreachableNotifySocketIsLoggedAsWarning)
{
    ::setenv("NOTIFY_SOCKET", m_dir.file("nobody").c_str(), 1);

    report_ready();

    EXPECT_TRUE(m_capture.contains_fragment("report_ready: sendto " + m_dir.file("nobody")));
}

TEST_F(report_ready_test, WithoutNotifySocketOnlyLogs)
{
    ::unsetenv("NOTIFY_SOCKET");

    report_ready();

    EXPECT_EQ(m_capture.texts_of_context("PSP"), std::vector<std::string>{"report_ready"});
}

} // namespace
} // namespace kest::psp::startup
