#include "client_state_notifier/socket.hpp"
#include "client_state_notifier/type_length_value.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace utilities
{
namespace
{

template <typename Exception, typename Action> std::string what_of(Action action)
{
    try
    {
        action();
    }
    catch (const Exception& error)
    {
        return error.what();
    }
    return "<nothing thrown>";
}

std::string system_message(int error, const char* context)
{
    return std::system_error(error, std::system_category(), context).what();
}

TEST(Socket_test, DescriptorMinusOneThrowsWithErrno)
{
    errno = EBADF;

    EXPECT_EQ(what_of<std::system_error>([] { Socket sut(-1); }), system_message(EBADF, "Socket::Socket(int32_t)"));
}

TEST(Socket_test, ListenOnAStreamPairSocketFailsWithItsContext)
{
    auto sockets = socket_pair();

    const auto text = what_of<std::system_error>([&] { sockets.first.listen(10); });

    EXPECT_EQ(text.rfind("Socket::listen(int32_t): ", 0), 0U) << text;
}

TEST(Socket_test, ReceiveFromClosedPeerThrowsClosed)
{
    auto sockets = socket_pair();
    {
        Socket gone = std::move(sockets.second);
    }
    std::uint8_t byte = 0;

    EXPECT_EQ(what_of<ExceptionSocketClosed>([&] { sockets.first.recv(&byte, 1, 0); }),
              "Socket::recv called with closed socket");
}

TEST(Socket_test, ReceiveWithoutDataOnNonBlockingSocketThrowsTimeout)
{
    auto sockets = socket_pair();
    std::uint8_t byte = 0;

    EXPECT_EQ(what_of<ExceptionSocketTimeout>([&] { sockets.first.recv(&byte, 1, MSG_DONTWAIT); }),
              "Socket::recv timeout, retry");
}

TEST(Socket_test, SendToClosedPeerThrowsBrokenPipeWithoutSignal)
{
    auto sockets = socket_pair();
    {
        Socket gone = std::move(sockets.second);
    }
    const std::uint8_t byte = 1;

    EXPECT_EQ(what_of<std::system_error>([&] { sockets.first.sendl(&byte, 1, 0); }),
              system_message(EPIPE, "Socket::sendl(...)"));
}

TEST(Socket_test, ZeroLengthSendAndReceiveDoNothing)
{
    auto sockets = socket_pair();

    sockets.first.sendl(nullptr, 0, 0);
    sockets.second.recvl(nullptr, 0, 0);

    EXPECT_FALSE(sockets.second.poll(POLLIN, 0).second);
}

TEST(Socket_test, ReceiveExactlyCollectsPiecesSentSeparately)
{
    auto sockets = socket_pair();
    const Bytes first{1, 2};
    const Bytes second{3, 4, 5};
    std::thread sender(
        [&]
        {
            sockets.second.sendl(first.data(), first.size(), 0);
            sockets.second.sendl(second.data(), second.size(), 0);
        });
    Bytes received(5);

    sockets.first.recvl(received.data(), received.size(), 0);
    sender.join();

    EXPECT_EQ(received, (Bytes{1, 2, 3, 4, 5}));
}

TEST(Socket_test, MoveAssignmentSwapsDescriptors)
{
    auto sockets = socket_pair();
    const auto first_fd = sockets.first.get_fd();
    const auto second_fd = sockets.second.get_fd();

    sockets.first = std::move(sockets.second);

    EXPECT_EQ(sockets.first.get_fd(), second_fd);
    EXPECT_EQ(sockets.second.get_fd(), first_fd);
}

TEST(Socket_test, DestructionClosesTheDescriptor)
{
    int fd = -1;
    {
        Socket sut(AF_UNIX, SOCK_STREAM, 0);
        fd = sut.get_fd();
    }

    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}

TEST(Unix_address_test, PathOf108BytesFitsWithoutTerminator)
{
    const std::string path(108, 'p');

    const auto address = create_unix_address(path);

    EXPECT_EQ(address.sun_family, AF_UNIX);
    EXPECT_EQ(std::string(address.sun_path, sizeof(address.sun_path)), path);
}

TEST(Unix_address_test, PathOf109BytesIsRejectedNamingItself)
{
    const std::string path(109, 'p');

    EXPECT_EQ(what_of<std::runtime_error>([&] { create_unix_address(path); }),
              "socket address is too big for unix domain socket path (max size 108): " + path);
}

TEST(Poll_test, PollEntriesFollowTheListOrderWithZeroRevents)
{
    auto sockets = socket_pair();

    const auto fds = create_pollfd(POLLIN, {&sockets.second, &sockets.first});

    ASSERT_EQ(fds.size(), 2U);
    EXPECT_EQ(fds[0].fd, sockets.second.get_fd());
    EXPECT_EQ(fds[1].fd, sockets.first.get_fd());
    EXPECT_EQ(fds[1].events, POLLIN);
    EXPECT_EQ(fds[1].revents, 0);
}

TEST(Poll_test, ReadyDescriptorIsReportedAndSilenceTimesOut)
{
    auto sockets = socket_pair();
    auto fds = create_pollfd(POLLIN, {&sockets.first});

    EXPECT_FALSE(poll(fds, 10));

    const std::uint8_t byte = 1;
    sockets.second.sendl(&byte, 1, 0);
    EXPECT_TRUE(poll(fds, -1));
    EXPECT_NE(fds[0].revents & POLLIN, 0);
}

class Try_connect_test : public ::testing::Test
{
  protected:
    tarn1::testing::Temp_dir m_dir;
    std::string m_path = m_dir.file("server.socket");
    std::pair<Socket, Socket> m_stop = socket_pair();
};

TEST_F(Try_connect_test, StopSocketEndsTheWaitWithFalse)
{
    Socket sut(AF_UNIX, SOCK_STREAM, 0);
    auto result =
        std::async(std::launch::async, [&] { return sut.try_connect(create_unix_address(m_path), m_stop.first); });

    const std::uint8_t byte = 1;
    m_stop.second.sendl(&byte, 1, 0);

    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_FALSE(result.get());
}

TEST_F(Try_connect_test, WaitsUntilTheServerListens)
{
    Socket sut(AF_UNIX, SOCK_STREAM, 0);
    auto result =
        std::async(std::launch::async, [&] { return sut.try_connect(create_unix_address(m_path), m_stop.first); });
    // nobody listens yet: the client keeps trying
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(150)), std::future_status::timeout);

    Socket server(AF_UNIX, SOCK_STREAM, 0);
    const auto address = create_unix_address(m_path);
    ASSERT_EQ(::bind(server.get_fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    server.listen(1);

    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_TRUE(result.get());
}

TEST_F(Try_connect_test, OtherFailuresThrowWithTheirContext)
{
    Socket sut(AF_UNIX, SOCK_STREAM, 0);
    const auto address = create_unix_address(m_dir.write_file("plain_file", "x") + "/server.socket");

    EXPECT_EQ(what_of<std::system_error>([&] { sut.try_connect(address, m_stop.first); }),
              system_message(ENOTDIR, "Socket::try_connect(...)"));
}

} // namespace
} // namespace utilities
