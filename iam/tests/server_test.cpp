#include "ara/log/testing/log_capture.h"
#include "iam/server.hpp"
#include "iam/session.hpp"
#include "iam/tests/mocks/failing_acceptor.hpp"
#include "iam/tests/mocks/mock_iam_clients.hpp"
#include "iam/tests/unix_client.hpp"
#include "tests/support/temp_dir.hpp"

#include <asio/io_context.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <thread>

namespace vela::iam
{
namespace
{

using ::testing::_;
using ::testing::DoAll;
using testing::Failing_acceptor;
using testing::posix_request_text;
using ::testing::Return;
using ::testing::SetArgReferee;
using testing::Unix_client;
using Log_level = ara::log::LogLevel;

constexpr std::uint32_t known_uid = 1000;
constexpr std::uint32_t allowed_service = 0x1234;
constexpr std::uint32_t denied_service = 0x4321;
constexpr std::chrono::seconds log_timeout{5};

template <typename Acceptor> class Server_fixture : public ::testing::Test
{
  protected:
    using Server_type = Server<asio::io_context, Acceptor, Session>;

    Server_fixture()
    {
        Failing_acceptor::reset();
        // uid 1000 belongs to "app"; "app" may use service 0x1234 and nothing else
        m_factory.configure(
            [](testing::Mock_alias_query_client& alias)
            {
                ON_CALL(alias, AliasQuery(_, _, _, _)).WillByDefault(Return(Alias_query_status::eSuccess));
                ON_CALL(alias, AliasQuery(known_uid, _, _, _))
                    .WillByDefault(
                        DoAll(SetArgReferee<3>(std::vector<std::string>{"app"}), Return(Alias_query_status::eSuccess)));
            },
            [](testing::Mock_policy_decision_point& policy)
            {
                ON_CALL(policy, CheckPolicy(_, _, _, _, _)).WillByDefault(Return(Policy_result::kDenied));
                ON_CALL(policy, CheckPolicy("app", _, _, "1234", _)).WillByDefault(Return(Policy_result::kAllowed));
            });
    }

    ~Server_fixture() override { stop(); }

    void start(std::chrono::milliseconds retry_delay = accept_retry_delay)
    {
        m_server = std::make_unique<Server_type>(m_io, m_path, m_counter, m_factory, retry_delay);
        m_loop = std::thread([this] { m_io.run(); });
    }

    void stop()
    {
        m_io.stop();
        if (m_loop.joinable())
        {
            m_loop.join();
        }
        m_server.reset();
    }

    bool logged(const std::string& text, Log_level level = Log_level::kError) const
    {
        return m_capture.wait_for(text, log_timeout) && m_capture.count(text, level) == 1;
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::string m_path{m_dir.file("iam")};
    testing::Fake_clients_factory m_factory;
    asio::io_context m_io;
    std::uint64_t m_counter{0};
    std::unique_ptr<Server_type> m_server;
    std::thread m_loop;
};

using Server_test = Server_fixture<asio::local::stream_protocol::acceptor>;
using Server_accept_failure_test = Server_fixture<Failing_acceptor>;

TEST_F(Server_test, RequestsOnOneConnectionAreAnsweredInOrder)
{
    start();
    Unix_client client(m_path);

    const auto first = client.ask(posix_request_text(known_uid, allowed_service));
    const auto second = client.ask(posix_request_text(known_uid, denied_service));
    const auto third = client.ask(posix_request_text(4242, allowed_service));
    const auto fourth = client.ask(posix_request_text(known_uid, allowed_service));

    EXPECT_EQ(first, Decision::allowed);
    EXPECT_EQ(second, Decision::denied);
    EXPECT_EQ(third, Decision::error);
    EXPECT_EQ(fourth, Decision::allowed);
    EXPECT_TRUE(logged("Session::handle_read: session id: 1, exception: no domain found for gid: 4242, uid: 4242, "
                       "pid: 100"));
}

TEST_F(Server_test, RequestFillingTheBufferIsDeniedUnreadAndTheSessionStays)
{
    start();
    Unix_client client(m_path);

    const auto full = client.ask(std::string(Session::s_buffer_size, 'x'));
    const auto next = client.ask(posix_request_text(known_uid, allowed_service));

    EXPECT_EQ(full, Decision::denied);
    EXPECT_EQ(next, Decision::allowed);
    EXPECT_TRUE(logged("Session::handle_read: session id: 1, data override"));
}

TEST_F(Server_test, MalformedRequestIsAnErrorAndTheNextRequestIsServed)
{
    start();
    Unix_client client(m_path);

    const auto malformed = client.ask("posix22 serialization::archive 18 0 0");
    const auto next = client.ask(posix_request_text(known_uid, allowed_service));

    EXPECT_EQ(malformed, Decision::error);
    EXPECT_EQ(next, Decision::allowed);
    EXPECT_TRUE(logged("Session::handle_read: session id: 1, exception: Invalid message to deserialize"));
}

TEST_F(Server_test, RequestEndsAtItsFirstZeroByte)
{
    start();
    Unix_client client(m_path);

    const auto decision = client.ask(posix_request_text(known_uid, allowed_service) + std::string(1, '\0') + "junk");

    EXPECT_EQ(decision, Decision::allowed);
}

TEST_F(Server_test, ShortRequestIsNotCompletedWithBytesOfTheOneBefore)
{
    start();
    Unix_client client(m_path);
    ASSERT_EQ(client.ask(posix_request_text(known_uid, allowed_service)), Decision::allowed);

    // the first bytes of the request before, which still sits in the session's buffer
    const auto decision = client.ask("POSIX");

    EXPECT_EQ(decision, Decision::error);
}

TEST_F(Server_test, PeerClosingEndsOnlyItsSessionWithOneErrorLog)
{
    start();
    Unix_client leaving(m_path);
    Unix_client staying(m_path);
    ASSERT_EQ(leaving.ask(posix_request_text(known_uid, allowed_service)), Decision::allowed);
    ASSERT_EQ(staying.ask(posix_request_text(known_uid, allowed_service)), Decision::allowed);

    leaving.close();

    EXPECT_TRUE(logged("Session::handle_read: session id: 1, error: End of file"));
    EXPECT_TRUE(logged("Session::~Session: session id: 1", Log_level::kDebug));
    EXPECT_EQ(staying.ask(posix_request_text(known_uid, denied_service)), Decision::denied);
    EXPECT_EQ(m_capture.texts(Log_level::kError).size(), 1U);
}

TEST_F(Server_test, AnsweredRequestsAreCounted)
{
    start();
    Unix_client client(m_path);

    for (int round = 0; round < 3; ++round)
    {
        ASSERT_TRUE(client.ask("garbage").has_value());
    }
    client.close();
    ASSERT_TRUE(logged("Session::handle_read: session id: 1, error: End of file"));
    stop();

    EXPECT_EQ(m_counter, 3U);
}

TEST_F(Server_test, SessionIdsCountUpPerConnection)
{
    start();
    Unix_client first(m_path);
    Unix_client second(m_path);
    ASSERT_TRUE(first.ask("x").has_value());
    ASSERT_TRUE(second.ask("x").has_value());

    second.close();
    first.close();

    EXPECT_TRUE(logged("Session::handle_read: session id: 2, error: End of file"));
    EXPECT_TRUE(logged("Session::handle_read: session id: 1, error: End of file"));
    EXPECT_TRUE(m_capture.contains("Session::Session: session id: 3"));
}

TEST_F(Server_test, MissingSocketFoldersAreCreated)
{
    m_path = m_dir.file("adaptive/tarn1_iam/iam");

    start();

    struct stat info
    {
    };
    ASSERT_EQ(::stat(m_path.c_str(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
}

struct Setup_failure_case
{
    const char* name;
    std::string path;
    const char* step;
};

class Server_setup_test : public Server_test, public ::testing::WithParamInterface<Setup_failure_case>
{
};

TEST_P(Server_setup_test, FailureNamesTheStep)
{
    m_path = GetParam().path.empty() ? m_dir.path() : GetParam().path;

    try
    {
        start();
        FAIL() << "server started on " << m_path;
    }
    catch (const std::system_error& error)
    {
        EXPECT_EQ(std::string(error.what()).rfind(GetParam().step, 0), 0U) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Server_test,
    Server_setup_test,
    ::testing::Values(Setup_failure_case{"PathLongerThan107Bytes", "/tmp/" + std::string(103, 'p'), "bind"},
                      Setup_failure_case{"PathIsAFolder", "", "bind"},
                      Setup_failure_case{"PathIsTakenByAFile", "/proc/self/status", "bind"},
                      Setup_failure_case{"FolderIsAFile", "/proc/self/status/iam", "mkdir"}),
    [](const ::testing::TestParamInfo<Setup_failure_case>& param) { return param.param.name; });

TEST_F(Server_accept_failure_test, FailedAcceptUsesUpASessionIdAndOthersAreServed)
{
    start(std::chrono::milliseconds(20));
    Unix_client first(m_path);
    ASSERT_EQ(first.ask(posix_request_text(known_uid, allowed_service)), Decision::allowed);

    // the next accept fails, as when descriptors run out
    Failing_acceptor::s_fail_completions = 1;
    Unix_client refused(m_path);
    EXPECT_TRUE(refused.wait_closed());
    Unix_client third(m_path);

    EXPECT_EQ(third.ask(posix_request_text(known_uid, denied_service)), Decision::denied);
    EXPECT_EQ(first.ask(posix_request_text(known_uid, allowed_service)), Decision::allowed);
    third.close();
    EXPECT_TRUE(logged("Session::handle_read: session id: 3, error: End of file"));
    EXPECT_EQ(m_capture.count("Session::handle_read: session id: 2, error: End of file"), 0U);
}

TEST_F(Server_accept_failure_test, FailingAcceptsPauseInsteadOfSpinning)
{
    constexpr std::chrono::milliseconds delay{20};
    Failing_acceptor::s_fail_calls = true;
    const auto started = std::chrono::steady_clock::now();

    start(delay);
    const auto deadline = started + std::chrono::seconds(5);
    while (Failing_acceptor::s_calls < 4 && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const auto elapsed = std::chrono::steady_clock::now() - started;
    Failing_acceptor::s_fail_calls = false;

    EXPECT_GE(elapsed, 3 * delay);
    Unix_client client(m_path);
    EXPECT_EQ(client.ask(posix_request_text(known_uid, allowed_service)), Decision::allowed);
}

} // namespace
} // namespace vela::iam
