// The notifier driving a real client states server on a socket in a temporary directory, with
// real clients: Component_client for the well-behaved ones, Raw_client where a test must see
// the request ids or keep a client silent.

#include "ara/log/testing/log_capture.h"
#include "client_state_notifier/component_client.hpp"
#include "client_state_notifier/tests/raw_client.hpp"
#include "statemanager/state_notifier/state_notifier.hpp"
#include "testbed/support/temp_dir.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace vela::ap::statemanager::state_notifier
{
namespace
{

using namespace std::chrono_literals;
using ara::log::LogLevel;
using client_state_notifier::Component_client;
using client_state_notifier::Component_client_options;
using client_state_notifier::State_change_answer;
using client_state_notifier::State_change_handler;
using client_state_notifier::testing::held_back_count;
using client_state_notifier::testing::Raw_client;
using client_state_notifier::testing::wait_until;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

using Code = client_state_notifier::Component_client_return_type;

/// The requests that reached the handlers of the clients, in the order they arrived. A handler
/// can be held: it then waits, inside its step, until released.
class Handler_log
{
  public:
    State_change_handler handler(const std::string& name)
    {
        return [this, name](const std::string& requested)
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_entries.push_back(name + " " + requested);
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return m_held != name + " " + requested; });
            return State_change_answer{requested, Code::success};
        };
    }

    std::vector<std::string> entries() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }

    bool wait_for_entry(const std::string& entry, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(
            lock, timeout, [&] { return std::find(m_entries.begin(), m_entries.end(), entry) != m_entries.end(); });
    }

    /// The handler of this "name state" pair waits until release().
    void hold(const std::string& entry)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = entry;
    }

    void release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held.clear();
        m_changed.notify_all();
    }

  private:
    // Guards everything below: the clients' threads append and wait, the test thread reads.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_entries;
    std::string m_held;
};

/// Stands for the state machine: calls check_request_status() every millisecond, as the
/// preparing and resuming states do once per cycle.
class Main_loop
{
  public:
    explicit Main_loop(State_notifier& notifier)
        : m_notifier(notifier)
        , m_thread([this] { run(); })
    {
    }

    ~Main_loop()
    {
        m_stop = true;
        m_thread.join();
    }

    Main_loop(const Main_loop&) = delete;
    Main_loop& operator=(const Main_loop&) = delete;

  private:
    void run()
    {
        while (!m_stop)
        {
            m_notifier.check_request_status();
            std::this_thread::sleep_for(1ms);
        }
    }

    State_notifier& m_notifier;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

class State_notifier_server_test : public ::testing::Test
{
  protected:
    std::unique_ptr<State_notifier> make_notifier(std::chrono::seconds app_timeout = 5s)
    {
        return std::make_unique<State_notifier>(app_timeout, 5s, client_states_factory_for(m_path));
    }

    std::unique_ptr<Component_client> make_client(const std::string& name)
    {
        Component_client_options options;
        options.socket_path = m_path;
        options.reconnect_pause = 10ms;
        auto client = std::make_unique<Component_client>(name, m_handled.handler(name), "kOn", options);
        EXPECT_TRUE(client->wait_until_connected(5s)) << name;
        EXPECT_TRUE(registered(name)) << name;
        return client;
    }

    /// Connected is not yet registered: a request that the server takes before the client's
    /// hello does not reach the client.
    bool registered(const std::string& name)
    {
        return m_capture.wait_for("client connected: name = " + name + ", current state = kOn", 5s);
    }

    /// The sequence has ended when check_request_status() says so.
    static bool ended(State_notifier& notifier, std::chrono::milliseconds timeout = 5s)
    {
        return wait_until([&] { return !notifier.check_request_status(); }, timeout);
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::string m_path = m_dir.file("ara_SM/ara_SM.socket");
    Handler_log m_handled;
};

TEST_F(State_notifier_server_test, StandbyAndResumeReachEveryClientInOrderWithCountingRequestIds)
{
    auto sut = make_notifier();
    auto dcm = make_client("diag::dcm");
    auto dem = make_client("diag::dem");
    auto navigation = make_client("navigation");
    auto media = make_client("media");
    Raw_client radio(m_path);
    radio.send_hello("radio", "kOn");
    ASSERT_TRUE(registered("radio"));
    Main_loop loop(*sut);

    // the hypervisor asks for standby
    sut->request_standby();
    const auto standby_request = radio.receive_request();
    ASSERT_TRUE(standby_request);
    radio.answer(standby_request->id, standby_request->state, 0);
    ASSERT_TRUE(ended(*sut));
    // the hypervisor asks to resume
    sut->request_resume();
    const auto resume_request = radio.receive_request();
    ASSERT_TRUE(resume_request);
    radio.answer(resume_request->id, resume_request->state, 0);
    ASSERT_TRUE(ended(*sut));

    // the first request after the hello carries id 2, each later one adds 1
    EXPECT_EQ(standby_request->id, 2U);
    EXPECT_EQ(standby_request->state, "kPrepSD");
    EXPECT_EQ(resume_request->id, 3U);
    EXPECT_EQ(resume_request->state, "kOn");
    const auto handled = m_handled.entries();
    ASSERT_EQ(handled.size(), 8U);
    EXPECT_EQ(handled[0], "diag::dcm kPrepSD");
    EXPECT_THAT(std::vector<std::string>(handled.begin() + 1, handled.begin() + 3),
                UnorderedElementsAre("navigation kPrepSD", "media kPrepSD"));
    EXPECT_EQ(handled[3], "diag::dem kPrepSD");
    EXPECT_EQ(handled[4], "diag::dem kOn");
    EXPECT_THAT(std::vector<std::string>(handled.begin() + 5, handled.begin() + 7),
                UnorderedElementsAre("navigation kOn", "media kOn"));
    EXPECT_EQ(handled[7], "diag::dcm kOn");
    EXPECT_EQ(sut->get_app_clients_status().size(), 3U);
    EXPECT_EQ(m_capture.count("Received application client completion notification for kOn. Status: 0"), 1U);
    EXPECT_EQ(m_capture.count("State notification client [radio] succeeded"), 2U);
}

TEST_F(State_notifier_server_test, SilentApplicationTimesOutAndTheStandbyGoesOnToTheDem)
{
    auto sut = make_notifier(1s);
    auto dem = make_client("diag::dem");
    auto navigation = make_client("navigation");
    Raw_client silent(m_path);
    silent.send_hello("silent", "kOn");
    ASSERT_TRUE(registered("silent"));
    Main_loop loop(*sut);

    sut->request_standby();

    ASSERT_TRUE(ended(*sut, 10s));
    EXPECT_EQ(m_capture.count("Received application client completion notification for kPrepSD. Status: 1"), 1U);
    EXPECT_EQ(m_capture.count("State notification client [silent] timed out", LogLevel::kWarn), 1U);
    EXPECT_EQ(m_capture.count("State notification client [navigation] succeeded", LogLevel::kInfo), 1U);
    EXPECT_EQ(sut->get_app_clients_status().at("silent"), Code::timed_out);
    EXPECT_THAT(m_handled.entries(), ElementsAre("navigation kPrepSD", "diag::dem kPrepSD"));
}

TEST_F(State_notifier_server_test, ApplicationConnectingDuringStandbyIsToldToPrepareAtOnce)
{
    auto sut = make_notifier();
    auto dcm = make_client("diag::dcm");
    Main_loop loop(*sut);
    sut->request_standby();
    ASSERT_TRUE(m_capture.wait_for("Received application client completion notification for kPrepSD. Status: 0", 5s));

    Raw_client late(m_path);
    late.send_hello("late", "kOn");

    const auto request = late.receive_request();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->id, 1U);
    EXPECT_EQ(request->state, "kPrepSD");
}

TEST_F(State_notifier_server_test, FloodOfStaleAnswersIsLoggedBoundedlyAndTheNextLineCountsTheRest)
{
    utilities::Log_limits limits;
    limits.interval = 500ms;
    auto sut = std::make_unique<State_notifier>(5s, 5s, client_states_factory_for(m_path), limits);
    Raw_client navigation(m_path);
    navigation.send_hello("navigation", "kOn");
    ASSERT_TRUE(registered("navigation"));
    Main_loop loop(*sut);
    const std::string stale_text = "Client navigation errorneously reported state change to kPrepSD. Client status: 1";
    utilities::Bytes stale;
    utilities::write_state_change_response(stale, 1000, "kPrepSD", 0);
    utilities::Bytes flood;
    constexpr std::size_t s_flood = 10000;
    for (std::size_t index = 0; index < s_flood; ++index)
    {
        flood.insert(flood.end(), stale.begin(), stale.end());
    }
    const auto started = std::chrono::steady_clock::now();

    // the client answers, again and again, a request it was never sent
    navigation.send_bytes(flood);
    // then a standby: the answer to its request comes after the flood on the same connection,
    // so when the sequence has ended the server has read every stale answer
    sut->request_standby();
    const auto request = navigation.receive_request();
    ASSERT_TRUE(request);
    navigation.answer(request->id, request->state, 0);
    ASSERT_TRUE(ended(*sut));
    const auto handled = std::chrono::steady_clock::now();
    std::size_t flood_lines = 0;
    std::size_t reported = 0;
    for (const auto& text : m_capture.texts())
    {
        if (text.rfind(stale_text, 0) == 0)
        {
            ++flood_lines;
            reported += held_back_count(text);
        }
    }
    // the next one after the interval is written, with the count of those still held back
    ASSERT_TRUE(wait_until([&] { return std::chrono::steady_clock::now() >= handled + limits.interval; }));
    navigation.send_bytes(stale);

    const auto suffix = " (" + std::to_string(s_flood - flood_lines - reported) + " similar messages suppressed)";
    EXPECT_TRUE(m_capture.wait_for(stale_text + suffix, 5s)) << suffix;
    // at most the burst in each interval that the flood took
    const auto windows = static_cast<std::size_t>((handled - started) / limits.interval) + 1;
    EXPECT_GE(flood_lines, 1U);
    EXPECT_LE(flood_lines, limits.per_peer * windows);
}

TEST_F(State_notifier_server_test, ResumeDuringTheDemStepOfAStandbyBringsEveryClientBackToOn)
{
    auto sut = make_notifier();
    auto dcm = make_client("diag::dcm");
    auto dem = make_client("diag::dem");
    auto navigation = make_client("navigation");
    Main_loop loop(*sut);
    m_handled.hold("diag::dem kPrepSD");
    sut->request_standby();
    ASSERT_TRUE(m_handled.wait_for_entry("diag::dem kPrepSD"));

    // the hypervisor asks to resume while the DEM is still preparing
    sut->request_resume();
    m_handled.release();

    ASSERT_TRUE(m_handled.wait_for_entry("diag::dcm kOn"));
    ASSERT_TRUE(ended(*sut));
    EXPECT_THAT(m_handled.entries(),
                ElementsAre("diag::dcm kPrepSD",
                            "navigation kPrepSD",
                            "diag::dem kPrepSD",
                            "diag::dem kOn",
                            "navigation kOn",
                            "diag::dcm kOn"));
    EXPECT_EQ(dem->get_state(), "kOn");
    EXPECT_EQ(dcm->get_state(), "kOn");
}

/// Socket paths at which the server cannot listen.
struct Unusable_path_case
{
    const char* name;
    bool wait_for_the_crash;
};

void PrintTo(const Unusable_path_case& value, std::ostream* out)
{
    *out << value.name;
}

class State_notifier_unusable_socket_test : public State_notifier_server_test,
                                            public ::testing::WithParamInterface<Unusable_path_case>
{
};

TEST_P(State_notifier_unusable_socket_test, StandbyAndResumeStillEndWithErrorSteps)
{
    // a plain file where the socket's folder should be: the server thread cannot make it, even as root
    m_path = m_dir.write_file("not_a_folder", "x") + "/ara_SM/ara_SM.socket";
    auto sut = make_notifier();
    if (GetParam().wait_for_the_crash)
    {
        ASSERT_TRUE(wait_until([&] { return m_capture.contains_fragment("Client_states_impl thread crashed: "); }));
    }

    sut->request_standby();
    ASSERT_TRUE(ended(*sut));
    sut->request_resume();
    ASSERT_TRUE(ended(*sut));

    for (const char* text : {"Received DCM client completion notification for kPrepSD. Status: 2",
                             "Received application client completion notification for kPrepSD. Status: 2",
                             "Received DEM client completion notification for kPrepSD. Status: 2",
                             "Received DEM client completion notification for kOn. Status: 2",
                             "Received application client completion notification for kOn. Status: 2",
                             "Received DCM client completion notification for kOn. Status: 2"})
    {
        EXPECT_EQ(m_capture.count(text), 1U) << text;
    }
    if (GetParam().wait_for_the_crash)
    {
        EXPECT_TRUE(m_capture.contains("Requesting kPrepSD mode for DCM failed, the step ends with error: "
                                       "client states server has ended; request for kPrepSD not sent"));
    }
}

INSTANTIATE_TEST_SUITE_P(Paths,
                         State_notifier_unusable_socket_test,
                         ::testing::Values(Unusable_path_case{"AfterTheServerThreadEnded", true},
                                           Unusable_path_case{"WhileTheServerThreadMayStillRun", false}),
                         [](const ::testing::TestParamInfo<Unusable_path_case>& param)
                         { return std::string{param.param.name}; });

} // namespace
} // namespace vela::ap::statemanager::state_notifier
