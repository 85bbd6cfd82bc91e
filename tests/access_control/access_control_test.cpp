// Access control end to end: the built IAM daemon, started with rule files of the test, decides
// what processes of other users may do with a service offered here (or by another process), over
// real sockets. Runs as root (the daemon's private mount namespace, processes under other uids);
// skips otherwise.
//
// Users: root is "platform" (anything); 60001 is "app" (may offer and use tarn1::test::Echo, call
// its method 0 and subscribe to its event 0); 60002 has no identity domain (the daemon answers
// error); 60003 is "stranger" (the policy denies it everything).
#include "ara/log/testing/log_capture.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/echo_interface.hpp"
#include "platform/com/tests/local_service.hpp"
#include "platform/com/tests/peer_process.hpp"
#include "platform/com/tests/wait_for_instance.hpp"
#include "testbed/support/iam_daemon_process.hpp"
#include "testbed/support/temp_dir.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace
{

using tarn1::testing::EchoInterface;
using tarn1::testing::eventually;
using tarn1::testing::Peer_options;
using tarn1::testing::Peer_process;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto s_deadline = 5s;
constexpr uid_t s_app = 60001;
constexpr uid_t s_nobody = 60002;
constexpr uid_t s_stranger = 60003;

const char* const s_alias_rules = "0     0     *  platform\n"
                                  "60001 60001 *  app\n"
                                  "60003 60003 *  stranger\n";
// tarn1::test::Echo is 153d; method 0 and event 0 are both 0000.
const char* const s_policy = "allow platform - SOMEIP *    *\n"
                             "allow app      - SOMEIP 153d send_offer\n"
                             "allow app      - SOMEIP 153d send_find\n"
                             "allow app      - SOMEIP 153d 0000\n";

/// The provider's settings beyond the discovery folder.
struct Provider_settings
{
    bool access_control{true};
    const char* mode{"enforce"};
    const char* timeout_ms{"200"};
};

class Access_control_test : public ::testing::Test
{
  protected:
    Access_control_test()
    {
        // Processes of other users reach the folders of the test.
        ::chmod(m_dir.path().c_str(), 0755);
        ::mkdir(m_com_dir.c_str(), 01777);
        ::chmod(m_com_dir.c_str(), 01777);
    }

    ~Access_control_test() override
    {
        m_callers.clear();
        sut.reset();
        m_runtime.reset();
        for (const char* name :
             {"TARN1_COM_DIR", "TARN1_COM_IAM_SOCKET", "TARN1_COM_IAM_MODE", "TARN1_COM_IAM_TIMEOUT_MS"})
        {
            ::unsetenv(name);
        }
    }

    void SetUp() override
    {
        std::string why_not;
        if (!m_iam.start(why_not))
        {
            GTEST_SKIP() << why_not;
        }
    }

    /// Offers the test service "acl" from this process (root).
    void offer(const Provider_settings& settings = {})
    {
        ::setenv("TARN1_COM_DIR", m_com_dir.c_str(), 1);
        ::setenv("TARN1_COM_IAM_MODE", settings.mode, 1);
        ::setenv("TARN1_COM_IAM_TIMEOUT_MS", settings.timeout_ms, 1);
        if (settings.access_control)
        {
            ::setenv("TARN1_COM_IAM_SOCKET", m_iam.socket().c_str(), 1);
        }
        m_runtime.emplace(false, "provider");
        sut.emplace("acl");
        sut->OfferService();
        const auto handle = tarn1::testing::wait_for_instance(
            m_runtime->get_service_finder(), EchoInterface::service_identifier(), "acl", s_deadline);
        ASSERT_TRUE(handle.has_value());
        m_handle = *handle;
    }

    /// A consumer process of uid (root when none), connected to "acl" once it says "ready".
    Peer_process& caller(std::optional<uid_t> uid, std::optional<pid_t> pid = std::nullopt)
    {
        Peer_options options;
        options.uid = uid;
        options.pid = pid;
        options.environment = {"TARN1_COM_IAM_SOCKET=" + m_iam.socket()};
        m_callers.push_back(
            std::make_unique<Peer_process>(COM_TEST_CALLER, std::vector<std::string>{"acl"}, m_com_dir, options));
        Peer_process& process = *m_callers.back();
        EXPECT_TRUE(process.wait_for_line("ready", s_deadline)) << "caller of uid " << uid.value_or(0);
        return process;
    }

    /// Sends a command and returns the next line the process prints.
    static std::string ask(Peer_process& process, const std::string& command)
    {
        const std::size_t before = process.lines().size();
        process.send_line(command);
        return process.wait_for_line_count(before + 1, s_deadline) ? process.lines()[before] : "(no answer)";
    }

    tarn1::testing::Temp_dir m_dir;
    const std::string m_com_dir = m_dir.file("com");
    tarn1::testing::Iam_daemon_process m_iam{TARN1_IAM_DAEMON_PATH,
                                             m_dir.path(),
                                             m_dir.write_file("alias_rules.conf", s_alias_rules),
                                             m_dir.write_file("policy.conf", s_policy)};
    ara::log::testing::Log_capture m_log;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    std::optional<tarn1::testing::Local_skeleton> sut;
    kest::com::cpp_binding::Service_handle m_handle;
    std::vector<std::unique_ptr<Peer_process>> m_callers;
};

struct Call_case
{
    const char* name;
    std::optional<uid_t> uid;
    std::uint16_t method;
    const char* answer;
    /// The provider's warning about it, with PID for the caller's pid; empty for none.
    std::string log;
};

void PrintTo(const Call_case& param, std::ostream* out)
{
    *out << param.name;
}

class Access_control_call_test : public Access_control_test, public ::testing::WithParamInterface<Call_case>
{
};

TEST_P(Access_control_call_test, CallPassesOnlyWhatThePolicyAllowsTheCallersUser)
{
    offer();
    Peer_process& process = caller(GetParam().uid);

    const std::string answer = ask(process, "call " + std::to_string(GetParam().method) + " 0102");

    EXPECT_EQ(answer, GetParam().answer);
    if (!GetParam().log.empty())
    {
        std::string expected = GetParam().log;
        expected.replace(expected.find("PID"), 3, std::to_string(process.pid()));
        EXPECT_TRUE(m_log.wait_for(expected, s_deadline)) << expected << "\n" << m_iam.log();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Access_control_call_test,
    Access_control_call_test,
    ::testing::Values(Call_case{"RootCallsAnyMethod", std::nullopt, 0, "ok 0102", ""},
                      Call_case{"AppCallsMethodZero", s_app, 0, "ok 0102", ""},
                      Call_case{"AppIsDeniedMethodOne",
                                s_app,
                                1,
                                "denied",
                                "com: access denied: pid PID (uid 60001, gid 60001) may not call method 1 of "
                                "tarn1::test::Echo instance acl"},
                      Call_case{"UserWithoutDomainIsDenied",
                                s_nobody,
                                0,
                                "denied",
                                "com: access denied: pid PID (uid 60002, gid 60002) may not use tarn1::test::Echo "
                                "instance acl (the IAM daemon answered error)"},
                      Call_case{"StrangerIsDenied",
                                s_stranger,
                                0,
                                "denied",
                                "com: access denied: pid PID (uid 60003, gid 60003) may not use tarn1::test::Echo "
                                "instance acl"}),
    [](const ::testing::TestParamInfo<Call_case>& param) { return param.param.name; });

TEST_F(Access_control_test, SubscriptionOfAStrangerGetsAnErrorNamingTheEventAndNoValue)
{
    offer();
    Peer_process& app = caller(s_app);
    Peer_process& stranger = caller(s_stranger);

    ASSERT_EQ(ask(app, "subscribe"), "subscribing");
    ASSERT_EQ(ask(stranger, "subscribe"), "subscribing");
    const bool app_got_value = app.wait_for_line("value 00", s_deadline);
    const std::string refusal = ask(stranger, "raw 9 f0 0");
    const bool stranger_logged = eventually(
        [&]
        {
            return ask(stranger,
                       "logged the subscription to event 0 of tarn1::test::Echo instance acl "
                       "was refused: access denied") == "logged 1";
        },
        s_deadline);

    EXPECT_TRUE(app_got_value);
    EXPECT_EQ(refusal, "reply 81 20 0");
    EXPECT_TRUE(stranger_logged);
    EXPECT_FALSE(stranger.wait_for_line("value 00", 200ms));
}

TEST_F(Access_control_test, ClaimsInTheHeaderChangeNothing)
{
    offer();
    Peer_process& app = caller(s_app);
    Peer_process& stranger = caller(s_stranger);
    const std::string root_client = std::to_string(::getpid() & 0xFFFF);
    const std::string app_client = std::to_string(app.pid() & 0xFFFF);

    // the stranger claims to be this (root) process, the app, and nobody
    const std::string as_root = ask(stranger, "raw " + root_client + " 0 0");
    const std::string as_app = ask(stranger, "raw " + app_client + " 0 0");
    const std::string as_zero = ask(stranger, "raw 0 0 0");
    const std::string app_as_stranger = ask(app, "raw " + std::to_string(stranger.pid() & 0xFFFF) + " 0 0");

    EXPECT_EQ(as_root, "reply 81 20 0");
    EXPECT_EQ(as_app, "reply 81 20 0");
    EXPECT_EQ(as_zero, "reply 81 20 0");
    EXPECT_EQ(app_as_stranger, "reply 80 00 0");
}

struct Offer_case
{
    const char* name;
    uid_t uid;
    const char* instance;
    std::string answer;
    bool published;
};

void PrintTo(const Offer_case& param, std::ostream* out)
{
    *out << param.name;
}

class Access_control_offer_test : public Access_control_test, public ::testing::WithParamInterface<Offer_case>
{
};

TEST_P(Access_control_offer_test, OfferIsPublishedOnlyWhenAllowed)
{
    Peer_options options;
    options.uid = GetParam().uid;
    options.environment = {"TARN1_COM_IAM_SOCKET=" + m_iam.socket()};
    Peer_process provider(COM_TEST_PEER, {GetParam().instance}, m_com_dir, options);

    const bool answered = provider.wait_for_line(GetParam().answer, s_deadline);
    ::setenv("TARN1_COM_DIR", m_com_dir.c_str(), 1);
    kest::com::cpp_binding::Service_finder finder;
    const auto found = finder.find_service(vela::com::runtime::Service_id(EchoInterface::service_identifier()),
                                           vela::com::runtime::Instance_id(GetParam().instance));

    EXPECT_TRUE(answered) << (provider.lines().empty() ? "" : provider.lines().front());
    EXPECT_EQ(found.size(), GetParam().published ? 1U : 0U);
}

INSTANTIATE_TEST_SUITE_P(
    Access_control_offer_test,
    Access_control_offer_test,
    ::testing::Values(Offer_case{"App", s_app, "app", "offered", true},
                      Offer_case{"Stranger",
                                 s_stranger,
                                 "stranger",
                                 "offer refused: access denied: this process may not offer tarn1::test::Echo instance "
                                 "stranger",
                                 false}),
    [](const ::testing::TestParamInfo<Offer_case>& param) { return param.param.name; });

TEST_F(Access_control_test, AuditModeLetsDenialsPassAndWarns)
{
    offer(Provider_settings{true, "audit"});
    Peer_process& stranger = caller(s_stranger);

    const std::string answer = ask(stranger, "call 0 0102");

    EXPECT_EQ(answer, "ok 0102");
    EXPECT_TRUE(m_log.wait_for("com: access denied (audit mode, allowed anyway): pid " +
                                   std::to_string(stranger.pid()) +
                                   " (uid 60003, gid 60003) may not use tarn1::test::Echo instance acl",
                               s_deadline));
    EXPECT_EQ(
        m_log.count("com: access control on (audit mode), IAM daemon at " + m_iam.socket(), ara::log::LogLevel::kInfo),
        1U);
}

TEST_F(Access_control_test, WithoutTheIamSocketNothingIsChecked)
{
    offer(Provider_settings{false});
    Peer_process& stranger = caller(s_stranger);

    const std::string answer = ask(stranger, "call 1 0102");

    EXPECT_EQ(answer, "ok ");
    EXPECT_FALSE(m_log.contains_fragment("access"));
}

TEST_F(Access_control_test, AbsentDaemonDeniesAtOnceAndARestartedOneDecidesAgain)
{
    offer();
    Peer_process& app = caller(s_app);
    m_iam.kill();

    const auto asked = Clock::now();
    const std::string while_absent = ask(app, "call 0 01");
    const auto waited = Clock::now() - asked;
    std::string why_not;
    ASSERT_TRUE(m_iam.start(why_not)) << why_not;
    // the lack of an answer stands for a second, then the daemon is asked again
    const bool allowed_again = eventually([&] { return ask(app, "call 0 01") == "ok 01"; }, s_deadline);

    EXPECT_EQ(while_absent, "denied");
    EXPECT_LT(waited, 1s);
    EXPECT_TRUE(allowed_again);
    EXPECT_TRUE(m_log.contains_fragment("com: cannot reach the IAM daemon at " + m_iam.socket()));
    EXPECT_TRUE(m_log.contains("com: access denied: pid " + std::to_string(app.pid()) +
                               " (uid 60001, gid 60001) may not use tarn1::test::Echo instance acl (no answer from the "
                               "IAM daemon)"));
}

TEST_F(Access_control_test, SilentDaemonDeniesAtTheDeadlineWhileOtherConnectionsAreServed)
{
    offer(Provider_settings{true, "enforce", "1000"});
    Peer_process& served = caller(s_app);
    Peer_process& waiting = caller(s_app);
    ASSERT_EQ(ask(served, "call 0 01"), "ok 01");
    m_iam.pause();

    const auto asked = Clock::now();
    waiting.send_line("call 0 02");
    bool all_served = true;
    for (int i = 0; i < 20; ++i)
    {
        all_served = all_served && ask(served, "call 0 03") == "ok 03";
    }
    const auto served_in = Clock::now() - asked;
    const bool denied = waiting.wait_for_line("denied", s_deadline);
    const auto denied_in = Clock::now() - asked;
    m_iam.resume();

    EXPECT_TRUE(all_served);
    EXPECT_LT(served_in, 900ms);
    EXPECT_TRUE(denied);
    EXPECT_GE(denied_in, 1000ms);
    EXPECT_LT(denied_in, 3s);
}

TEST_F(Access_control_test, RecycledPidDoesNotInheritACachedAllowance)
{
    offer();
    pid_t pid = -1;
    {
        Peer_process& app = caller(s_app);
        pid = app.pid();
        ASSERT_EQ(ask(app, "call 0 01"), "ok 01");
        ASSERT_EQ(app.finish(s_deadline), 0);
    }

    std::unique_ptr<Peer_process> stranger;
    try
    {
        stranger =
            std::make_unique<Peer_process>(COM_TEST_CALLER,
                                           std::vector<std::string>{"acl"},
                                           m_com_dir,
                                           Peer_options{s_stranger, pid, {"TARN1_COM_IAM_SOCKET=" + m_iam.socket()}});
    }
    catch (const std::system_error& error)
    {
        GTEST_SKIP() << "cannot start a process with the pid " << pid << " again: " << error.what();
    }
    ASSERT_TRUE(stranger->wait_for_line("ready", s_deadline));
    const std::string answer = ask(*stranger, "call 0 01");

    EXPECT_EQ(stranger->pid(), pid);
    EXPECT_EQ(answer, "denied");
}

/// Writes an entry of the test service's instance that claims the socket at endpoint for init.
void forge_entry(const std::string& com_dir, const std::string& instance, const std::string& endpoint)
{
    std::ifstream init_stat("/proc/1/stat");
    std::string stat_line;
    std::getline(init_stat, stat_line);
    std::istringstream fields(stat_line.substr(stat_line.rfind(')') + 2));
    std::string start_time;
    for (int index = 3; index <= 22; ++index)
    {
        fields >> start_time;
    }
    std::ofstream(com_dir + "/p1-" + instance + ".svc") << "service=" << EchoInterface::service_identifier() << "\n"
                                                        << "instance=" << instance << "\n"
                                                        << "endpoint=" << endpoint << "\n"
                                                        << "pid=1\n"
                                                        << "start_time=" << start_time << "\n";
}

TEST_F(Access_control_test, EntryNamingAnotherProcessForASocketCountsAsNotAvailable)
{
    offer(Provider_settings{false});
    forge_entry(m_com_dir, "forged", m_handle.endpoint);
    Peer_options options;
    options.uid = s_app;
    options.environment = {"TARN1_COM_IAM_SOCKET=" + m_iam.socket()};
    Peer_process consumer(COM_TEST_CALLER, {"forged"}, m_com_dir, options);
    ASSERT_TRUE(consumer.wait_for_line("ready", s_deadline));

    const std::string answer = ask(consumer, "call 0 01");
    const std::string logged =
        ask(consumer,
            "logged counts as not available: its socket " + m_handle.endpoint + " is served by pid " +
                std::to_string(::getpid()) + ", not by the offering process (pid 1");

    EXPECT_EQ(answer, "unavailable");
    EXPECT_EQ(logged, "logged 1");
}

TEST_F(Access_control_test, ForgedEntryAheadOfTheRealOneDoesNotHideIt)
{
    offer(Provider_settings{false});
    // a socket of this process, listed before the real one (entries are taken in endpoint order)
    const std::string decoy = m_com_dir + "/a.sock";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, decoy.c_str(), sizeof address.sun_path - 1);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::chmod(decoy.c_str(), 0666);
    forge_entry(m_com_dir, "acl", decoy);
    Peer_options options;
    options.uid = s_app;
    options.environment = {"TARN1_COM_IAM_SOCKET=" + m_iam.socket()};
    Peer_process consumer(COM_TEST_CALLER, {"acl"}, m_com_dir, options);
    ASSERT_TRUE(consumer.wait_for_line("ready", s_deadline));

    const bool served = eventually([&] { return ask(consumer, "call 0 01") == "ok 01"; }, s_deadline);
    ::close(listener);

    EXPECT_TRUE(served);
}

} // namespace
