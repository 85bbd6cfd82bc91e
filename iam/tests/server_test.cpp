#include "ara/log/testing/log_capture.h"
#include "iam/server.hpp"
#include "iam/session.hpp"
#include "iam/tests/mocks/failing_acceptor.hpp"
#include "iam/tests/mocks/mock_iam_clients.hpp"
#include "iam/tests/peer_process.hpp"
#include "iam/tests/unix_client.hpp"
#include "testbed/support/temp_dir.hpp"

#include <asio/io_context.hpp>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vela::iam
{
namespace
{

using ::testing::_;
using ::testing::DoAll;
using testing::Failing_acceptor;
using testing::Peer_process;
using testing::posix_request_text;
using testing::response_bytes;
using ::testing::Return;
using ::testing::SetArgReferee;
using testing::Unix_client;
using Log_level = ara::log::LogLevel;
using Clock = std::chrono::steady_clock;

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
        m_server = std::make_unique<Server_type>(m_io, m_path, m_counter, m_factory, retry_delay, m_limits);
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
    Peer_limits m_limits{peer_limits_for(read_descriptor_limit())};
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

/// The lines of the error log that start with text (its later occurrences carry a held-back count).
std::vector<std::string> lines_starting_with(const ara::log::testing::Log_capture& capture, const std::string& text)
{
    std::vector<std::string> lines;
    for (const auto& line : capture.texts(Log_level::kError))
    {
        if (line.rfind(text, 0) == 0)
        {
            lines.push_back(line);
        }
    }
    return lines;
}

/// Every occurrence either has its line or is counted in a later one.
std::uint64_t occurrences_accounted_for(const std::vector<std::string>& lines)
{
    std::uint64_t total = lines.size();
    for (const auto& line : lines)
    {
        const auto open = line.rfind(" (");
        if (open != std::string::npos && line.find(" similar messages suppressed)", open) != std::string::npos)
        {
            total += std::stoull(line.substr(open + 2));
        }
    }
    return total;
}

struct Flood_case
{
    const char* name;
    std::string request;
    std::string first_line;

    friend void PrintTo(const Flood_case& flood_case, std::ostream* stream) { *stream << flood_case.name; }
};

class Server_log_bound_test : public Server_test, public ::testing::WithParamInterface<Flood_case>
{
};

TEST_P(Server_log_bound_test, ThousandsOfBadRequestsGiveFewLinesThatCountTheRest)
{
    constexpr int flood = 2000;
    m_limits.log_interval = std::chrono::milliseconds(200);
    start();
    Unix_client client(m_path);
    const auto started = Clock::now();

    int sent = 0;
    for (; sent < flood; ++sent)
    {
        ASSERT_TRUE(client.ask(GetParam().request).has_value());
    }
    // the first line written after the flood carries what was held back until then
    const auto lines_after_flood = lines_starting_with(m_capture, GetParam().first_line).size();
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (lines_starting_with(m_capture, GetParam().first_line).size() == lines_after_flood && Clock::now() < deadline)
    {
        ASSERT_TRUE(client.ask(GetParam().request).has_value());
        ++sent;
    }
    const auto intervals = (Clock::now() - started) / m_limits.log_interval + 1;

    const auto lines = lines_starting_with(m_capture, GetParam().first_line);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), GetParam().first_line);
    EXPECT_LE(lines.size(), m_limits.log_burst * static_cast<std::size_t>(intervals));
    EXPECT_NE(lines.back().find("similar messages suppressed)"), std::string::npos) << lines.back();
    EXPECT_EQ(occurrences_accounted_for(lines), static_cast<std::uint64_t>(sent));
}

INSTANTIATE_TEST_SUITE_P(
    Server_test,
    Server_log_bound_test,
    ::testing::Values(
        Flood_case{
            "Undecodable", "garbage", "Session::handle_read: session id: 1, exception: Invalid message to deserialize"},
        Flood_case{
            "Refused",
            posix_request_text(4242, allowed_service),
            "Session::handle_read: session id: 1, exception: no domain found for gid: 4242, uid: 4242, pid: 100"},
        Flood_case{"FillingTheBuffer",
                   std::string(Session::s_buffer_size, 'x'),
                   "Session::handle_read: session id: 1, data override"}),
    [](const ::testing::TestParamInfo<Flood_case>& param) { return param.param.name; });

TEST_F(Server_test, ConnectionsOfOneUidClosedOneAfterAnotherShareOneBudget)
{
    m_limits.log_interval = std::chrono::hours(1);
    start();

    constexpr int connections = 200;
    for (int index = 0; index < connections; ++index)
    {
        Unix_client client(m_path);
        ASSERT_TRUE(client.ask("x").has_value());
    }
    // the last session has ended once the next one has been made
    ASSERT_TRUE(m_capture.wait_for("Session::Session: session id: " + std::to_string(connections + 1), log_timeout));
    ASSERT_TRUE(m_capture.wait_for("Session::~Session: session id: " + std::to_string(connections), log_timeout));

    std::size_t end_lines = 0;
    for (const auto& line : m_capture.texts(Log_level::kError))
    {
        end_lines += line.find(", error: End of file") != std::string::npos ? 1 : 0;
    }
    EXPECT_EQ(end_lines, m_limits.log_burst);
}

/// Clients of other uids: the test runs them in forked children that give up root.
class Server_bounds_test : public Server_test
{
  protected:
    static constexpr std::uint32_t flooding_uid = 60001;
    static constexpr std::uint32_t other_uid = 60002;
    static constexpr std::uint32_t third_uid = 60003;

    void SetUp() override
    {
        if (::geteuid() != 0)
        {
            GTEST_SKIP() << "needs root to run clients under other uids";
        }
    }

    /// Starts the server with the limits given, its socket open to every uid.
    void start_open_to_all()
    {
        start();
        ASSERT_EQ(::chmod(m_dir.path().c_str(), 0755), 0);
        ASSERT_EQ(::chmod(m_path.c_str(), 0777), 0);
    }

    std::unique_ptr<Peer_process> peer(std::uint32_t uid, int connections) const
    {
        return std::make_unique<Peer_process>(m_path, uid, connections, m_allowed_request, m_allowed_response);
    }

    const std::string m_allowed_request{posix_request_text(known_uid, allowed_service)};
    const std::string m_allowed_response{response_bytes(Decision::allowed)};
};

TEST_F(Server_bounds_test, FloodingUidKeepsItsShareAndAnotherUidIsStillAnswered)
{
    m_limits = Peer_limits{8, 3};
    start_open_to_all();
    const auto started = Clock::now();

    // one peer opens connection after connection and keeps each that is answered
    const auto flood = peer(flooding_uid, 40);
    const auto flood_report = flood->report();
    const auto other = peer(other_uid, 1);
    const auto other_report = other->report();
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count() + 1;

    ASSERT_TRUE(flood_report.has_value());
    ASSERT_TRUE(other_report.has_value());
    EXPECT_EQ(flood_report->answered, 3);
    EXPECT_EQ(flood_report->closed, 37) << "the surplus is closed at once, not left waiting";
    EXPECT_EQ(flood_report->stuck, 0);
    EXPECT_EQ(other_report->answered, 1);
    const std::string refusal = "Server::handle_accept: uid 60001 reached its session limit 3, connection closed";
    EXPECT_EQ(m_capture.count(refusal, Log_level::kWarn), 1U);
    std::size_t refusal_lines = 0;
    for (const auto& line : m_capture.texts(Log_level::kWarn))
    {
        refusal_lines += line.rfind(refusal, 0) == 0 ? 1 : 0;
    }
    EXPECT_LE(refusal_lines, static_cast<std::size_t>(seconds));
}

TEST_F(Server_bounds_test, TotalBoundHoldsForEveryUidUntilASessionEnds)
{
    m_limits = Peer_limits{4, 2};
    start_open_to_all();

    // two uids take all four places
    auto first = peer(flooding_uid, 2);
    const auto first_report = first->report();
    const auto second = peer(other_uid, 2);
    const auto second_report = second->report();
    const auto third = peer(third_uid, 1);
    const auto third_report = third->report();
    Unix_client root_client(m_path);
    const bool root_closed = root_client.wait_closed();
    // the first peer leaves; its places come back once the server has seen its sessions end
    first.reset();
    bool answered_again = false;
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!answered_again && Clock::now() < deadline)
    {
        Unix_client retry(m_path);
        answered_again = retry.ask(m_allowed_request) == Decision::allowed;
    }

    ASSERT_TRUE(first_report && second_report && third_report);
    EXPECT_EQ(first_report->answered, 2);
    EXPECT_EQ(second_report->answered, 2);
    EXPECT_EQ(third_report->closed, 1);
    EXPECT_TRUE(root_closed) << "root is bound by the total too";
    EXPECT_TRUE(answered_again);
    EXPECT_EQ(m_capture.count("Server::handle_accept: session limit 4 reached, connection of uid 60003 closed",
                              Log_level::kWarn),
              1U);
}

TEST_F(Server_bounds_test, FloodOfOneKindHidesNeitherAnotherKindNorAnotherUid)
{
    m_limits.log_interval = std::chrono::hours(1);
    start_open_to_all();
    Unix_client client(m_path);

    for (int index = 0; index < 100; ++index)
    {
        ASSERT_TRUE(client.ask("garbage").has_value());
    }
    const auto refused = client.ask(posix_request_text(4242, allowed_service));
    const Peer_process other(m_path, other_uid, 1, "garbage", response_bytes(Decision::error));
    const auto other_report = other.report();

    EXPECT_EQ(refused, Decision::error);
    ASSERT_TRUE(other_report.has_value());
    EXPECT_EQ(other_report->answered, 1);
    EXPECT_EQ(m_capture.count("Session::handle_read: session id: 1, exception: Invalid message to deserialize"),
              m_limits.log_burst);
    EXPECT_TRUE(logged("Session::handle_read: session id: 1, exception: no domain found for gid: 4242, uid: 4242, "
                       "pid: 100"));
    EXPECT_TRUE(logged("Session::handle_read: session id: 2, exception: Invalid message to deserialize"));
}

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
