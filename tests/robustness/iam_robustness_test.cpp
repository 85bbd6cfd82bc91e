// Hostile peers on the socket of a running IAM daemon, which runs at a low descriptor limit in a
// mount namespace of its own; its socket is reached through a folder of the test bound over
// /var/run/adaptive, open to every user. Whatever they do, the daemon stays alive and does not
// spin, a well-behaved client gets its decision in its usual time (once the sessions let new ones
// in), and what the daemon holds and logs stays bounded. docs/robustness.md lists the bounds.

#include "testbed/support/namespaced_daemon.hpp"
#include "testbed/support/temp_dir.hpp"
#include "testbed/support/uid_process.hpp"
#include "tests/robustness/bounds.hpp"
#include "tests/robustness/hostile_peers.hpp"
#include "tests/robustness/process_probe.hpp"
#include "vela/iam/messages.hpp"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarn1::testing
{
namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vela::iam::Decision;

/// Sessions at the descriptor limit: the limit less the daemon's reserve of 32 (half of them, at
/// most 64, for one uid other than root).
constexpr std::size_t s_sessions = s_descriptor_limit - 32;

/// An access check the alias and policy files of the test allow.
std::string allowed_request()
{
    vela::iam::Check_request_posix request;
    request.identifier = vela::iam::identifier::Identifier_posix{100, 1000, 1000};
    request.service = vela::iam::iam_internal_if::Service_someip_ifc{0x1234, 0, vela::iam::Operation::Use_service};
    return vela::iam::encode_request(vela::iam::Check_requestT<vela::iam::Check_request_posix>(request));
}

Bytes bytes_of(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

/// Requests that no decoder may trust.
std::vector<Bytes> bad_requests()
{
    std::vector<Bytes> requests;
    // 10 MiB without a terminator
    requests.emplace_back(10U * 1024U * 1024U, 'A');
    // an address text that claims four thousand million characters
    requests.push_back(bytes_of(
        std::string("TCPIP22 serialization::archive 18 0 0 0 0 0 0 30501 4294967295 10.0.0.5 0 0 1 4660 0") + '\0'));
    // numbers out of every range
    requests.push_back(bytes_of(
        std::string("POSIX22 serialization::archive 18 0 0 0 0 0 0 99999999999 -1 -1 0 0 7 99999999999 99999") + '\0'));
    // neither tag
    requests.push_back(bytes_of(std::string("hello") + '\0'));
    Bytes binary(600);
    for (std::size_t index = 0; index < binary.size(); ++index)
    {
        binary[index] = static_cast<std::uint8_t>(index * 151U + 7U);
    }
    requests.push_back(binary);
    return requests;
}

struct Iam_target
{
    pid_t pid;
    std::string socket;
    std::function<std::string()> log;
};

struct Iam_attack
{
    std::vector<std::unique_ptr<Hostile_peer>> peers;
    std::function<bool()> engaged;
};

template <typename Peer, typename... Arguments> void add(Iam_attack& attack, Arguments&&... arguments)
{
    attack.peers.push_back(std::make_unique<Peer>(std::forward<Arguments>(arguments)...));
}

/// Every peer engaged, and the daemon has written fragment (when given).
std::function<bool()> engaged_when(const Iam_attack& attack, const Iam_target& target, std::string fragment = "")
{
    return [&attack, target, fragment]
    {
        for (const auto& peer : attack.peers)
        {
            if (!peer->engaged())
            {
                return false;
            }
        }
        return fragment.empty() || target.log().find(fragment) != std::string::npos;
    };
}

std::unique_ptr<Iam_attack> connection_flood(const Iam_target& target)
{
    auto attack = std::make_unique<Iam_attack>();
    add<Connection_flood>(*attack, target.socket, nullptr, 400);
    attack->engaged =
        engaged_when(*attack, target, "Server::handle_accept: session limit " + std::to_string(s_sessions));
    return attack;
}

std::unique_ptr<Iam_attack> flood_of_another_user(const Iam_target& target)
{
    auto attack = std::make_unique<Iam_attack>();
    add<Other_user_connections>(
        *attack, 60001, target.socket, std::vector<Bytes>(200, bytes_of(allowed_request() + '\0')));
    attack->engaged = engaged_when(*attack, target, "uid 60001 reached its session limit");
    return attack;
}

std::unique_ptr<Iam_attack> slow_partial_requests(const Iam_target& target)
{
    auto attack = std::make_unique<Iam_attack>();
    // 48 requests, a byte every 20 ms each, never ended by a zero byte
    add<Tricklers>(
        *attack, target.socket, [](std::size_t) { return bytes_of(allowed_request()); }, 48, 20ms);
    attack->engaged = engaged_when(*attack, target);
    return attack;
}

std::unique_ptr<Iam_attack> peer_that_never_reads(const Iam_target& target)
{
    auto attack = std::make_unique<Iam_attack>();
    add<Non_reader>(*attack, target.socket, Bytes{}, bytes_of(allowed_request() + '\0'), 0ms);
    attack->engaged = engaged_when(*attack, target);
    return attack;
}

std::unique_ptr<Iam_attack> malformed_and_oversized_requests(const Iam_target& target)
{
    auto attack = std::make_unique<Iam_attack>();
    add<Bad_frame_sender>(*attack, target.socket, bad_requests(), 5ms);
    attack->engaged = engaged_when(*attack, target);
    return attack;
}

struct Iam_attack_case
{
    const char* name;
    std::unique_ptr<Iam_attack> (*start)(const Iam_target&);
    /// The attack holds every session, so a new client can be served only once it lets go.
    bool holds_the_limit;
    /// A line the daemon writes about the attack.
    const char* logged;
};

void PrintTo(const Iam_attack_case& value, std::ostream* out)
{
    *out << value.name;
}

class Iam_robustness_test : public ::testing::TestWithParam<Iam_attack_case>
{
  protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
        {
            GTEST_SKIP() << "needs root: the daemon runs in a mount namespace of its own and peers of other users "
                            "are played";
        }
        rlimit descriptors{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &descriptors), 0);
        descriptors.rlim_cur = descriptors.rlim_max;
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &descriptors), 0);
        ASSERT_EQ(::chmod(m_dir.path().c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(m_run_dir.c_str(), 0755), 0);
        // the namespace's script installs a Statewarden configuration, which this daemon ignores
        m_dir.write_file("statewarden.json", "{}");
        m_alias_rules = m_dir.write_file("alias.conf", "1000 1000 * app\n");
        m_policy = m_dir.write_file("policy.conf", "allow app - SOMEIP 1234 *\n");
    }

    void start()
    {
        m_daemon.emplace(m_dir,
                         TARN1_IAM_DAEMON_PATH,
                         std::vector<std::string>{"TARN1_IAM_ALIAS_RULES=" + m_alias_rules,
                                                  "TARN1_IAM_POLICY=" + m_policy,
                                                  "ARA_LOG_LEVEL=info",
                                                  "ARA_LOG_CONSOLE=1",
                                                  "ARA_LOG_DLT=0"},
                         Namespaced_daemon_options{s_descriptor_limit, m_run_dir, "daemon.log"});
        ASSERT_TRUE(m_daemon->wait_for_output("ReportApplicationState(kRunning)", 20s)) << m_daemon->output();
        // every user may connect
        ASSERT_TRUE(eventually([&] { return ::chmod(socket().c_str(), 0666) == 0; }, 10s));
    }

    std::string socket() const { return m_run_dir + "/tarn1_iam/iam"; }

    /// How long until a new client gets its decision (connecting again while the daemon closes
    /// its connection at once), or nothing when that takes longer than timeout or the decision is
    /// wrong.
    std::optional<std::chrono::milliseconds> ask(std::chrono::milliseconds timeout) const
    {
        const auto start = Clock::now();
        const auto request = allowed_request();
        while (Clock::now() - start < timeout)
        {
            const int connection = connect_unix(socket().c_str());
            std::string response;
            if (connection >= 0 && send_all(connection, request.data(), request.size()))
            {
                char buffer[256];
                pollfd entry{connection, POLLIN, 0};
                while (response.find('\0') == std::string::npos && ::poll(&entry, 1, 100) > 0)
                {
                    const auto got = ::recv(connection, buffer, sizeof(buffer), 0);
                    if (got <= 0)
                    {
                        break;
                    }
                    response.append(buffer, static_cast<std::size_t>(got));
                }
            }
            if (connection >= 0)
            {
                ::close(connection);
            }
            if (response.find('\0') != std::string::npos)
            {
                response.resize(response.find('\0'));
                if (vela::iam::decode_response(response).decision != Decision::allowed)
                {
                    return std::nullopt;
                }
                return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
            }
            // closed at once: as a client would, try again a little later
            std::this_thread::sleep_for(20ms);
        }
        return std::nullopt;
    }

    Temp_dir m_dir;
    std::string m_run_dir{m_dir.file("run")};
    std::string m_alias_rules;
    std::string m_policy;
    std::optional<Namespaced_daemon> m_daemon;
};

TEST_P(Iam_robustness_test, DaemonServesOthersOnTimeAndStaysBounded)
{
    ASSERT_NO_FATAL_FAILURE(start());
    const pid_t pid = m_daemon->pid();
    const auto descriptors_before = descriptor_count(pid);
    const auto log_before = m_daemon->output().size();
    ASSERT_TRUE(ask(s_normal_time).has_value()) << m_daemon->output();
    Peak_resident_memory memory(pid);
    const Iam_target target{pid, socket(), [this] { return m_daemon->output(); }};

    // the attack starts and reaches its full force
    auto attack = GetParam().start(target);
    const bool engaged = eventually(attack->engaged, 10s);
    const auto cpu = cpu_share(pid, s_cpu_window);
    std::optional<std::chrono::milliseconds> during;
    if (!GetParam().holds_the_limit)
    {
        during = ask(s_normal_time);
    }
    // the attack ends
    attack.reset();
    const auto after = ask(s_normal_time);

    std::cout << "[ measured ] CPU " << cpu.value_or(-1) << " of a core, peak " << memory.peak_kib()
              << " KiB resident, log +" << m_daemon->output().size() - log_before << " bytes, decision during "
              << during.value_or(-1ms).count() << " ms, after " << after.value_or(-1ms).count() << " ms\n";
    EXPECT_TRUE(engaged) << m_daemon->output();
    ASSERT_TRUE(m_daemon->running()) << m_daemon->output();
    if (!s_sanitized)
    {
        ASSERT_TRUE(cpu.has_value());
        EXPECT_LT(*cpu, s_max_cpu_share);
    }
    EXPECT_LE(memory.peak_kib(), s_max_iam_resident_kib);
    if (!GetParam().holds_the_limit)
    {
        EXPECT_TRUE(during.has_value()) << "no decision within " << s_normal_time.count() << " ms during the attack";
    }
    EXPECT_TRUE(after.has_value()) << "no decision within " << s_normal_time.count() << " ms after the attack";
    EXPECT_LE(m_daemon->output().size() - log_before, s_max_log_growth);
    if (GetParam().logged != nullptr)
    {
        EXPECT_NE(m_daemon->output().find(GetParam().logged), std::string::npos) << m_daemon->output();
    }
    EXPECT_TRUE(eventually([&] { return descriptor_count(pid) == descriptors_before; }, 5s))
        << descriptor_count(pid).value_or(0) << " descriptors, " << descriptors_before.value_or(0) << " before";
    m_daemon->send(SIGTERM);
    EXPECT_EQ(m_daemon->wait_for_exit(10s), 0) << m_daemon->output();
}

INSTANTIATE_TEST_SUITE_P(
    Attacks,
    Iam_robustness_test,
    ::testing::Values(
        Iam_attack_case{"ConnectionFloodToTheSessionLimit",
                        connection_flood,
                        true,
                        "Server::handle_accept: session limit 96 reached, connection of uid 0 closed"},
        Iam_attack_case{"FloodOfAnotherUser",
                        flood_of_another_user,
                        false,
                        "Server::handle_accept: uid 60001 reached its session limit 48, connection closed"},
        Iam_attack_case{"SlowPartialRequests", slow_partial_requests, false, nullptr},
        Iam_attack_case{"PeerThatNeverReads", peer_that_never_reads, false, nullptr},
        Iam_attack_case{"MalformedAndOversizedRequests", malformed_and_oversized_requests, false, nullptr}),
    [](const ::testing::TestParamInfo<Iam_attack_case>& param) { return std::string(param.param.name); });

} // namespace
} // namespace tarn1::testing
