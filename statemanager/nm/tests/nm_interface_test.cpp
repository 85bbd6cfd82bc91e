#include "ara/log/testing/log_capture.h"
#include "kest/com/runtime/component_singleton.h"
#include "platform/com/tests/peer_process.hpp"
#include "statemanager/nm/nm_interface.hpp"
#include "testbed/support/temp_dir.hpp"

#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <ostream>
#include <thread>

namespace vela::ap::statemanager
{
namespace
{

using ara::log::LogLevel;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr auto s_timeout = 10s;

/// The NM client in this process, the NM services in a child process (nm_service_peer).
class Nm_interface_test : public ::testing::Test
{
  protected:
    Nm_interface_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
        m_peer.emplace(NM_SERVICE_PEER, std::vector<std::string>{}, m_dir.path());
        sut.emplace();
        sut->set_network_state_updated_func(
            [this](const Bytes& state)
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_states.push_back(state);
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return !m_hold_state_callback; });
            });
    }
    ~Nm_interface_test() override
    {
        release_state_callback();
        sut.reset();
        m_peer.reset();
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    void start()
    {
        sut->start_find_services(
            [this]
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                ++m_found_count;
                m_changed.notify_all();
            });
    }
    /// Sends a command to the NM side and waits for its acknowledgement.
    void command(const std::string& line, const std::string& acknowledgement)
    {
        m_peer->send_line(line);
        ASSERT_TRUE(m_peer->wait_for_line(acknowledgement, s_timeout)) << line;
    }
    bool wait_found_count(int count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, s_timeout, [&] { return m_found_count == count; });
    }
    int found_count()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_found_count;
    }
    bool wait_for_state(const Bytes& state)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, s_timeout, [&] { return !m_states.empty() && m_states.back() == state; });
    }
    std::vector<Bytes> states()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_states;
    }
    void hold_state_callback()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hold_state_callback = true;
    }
    void release_state_callback()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hold_state_callback = false;
        m_changed.notify_all();
    }
    void find_both()
    {
        start();
        command("offer network_state", "network_state offered");
        command("offer user_data", "user_data offered");
        ASSERT_TRUE(wait_found_count(1));
    }

    tarn1::testing::Temp_dir m_dir;
    ara::log::testing::Log_capture capture;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
    std::optional<tarn1::testing::Peer_process> m_peer;
    std::optional<Nm_interface> sut;

    // Guards the records below: written by the middleware's workers, read by the test thread.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_found_count{0};
    std::vector<Bytes> m_states;
    bool m_hold_state_callback{false};
};

struct Order_case
{
    const char* name;
    const char* first;
    const char* second;
};

void PrintTo(const Order_case& c, std::ostream* os)
{
    *os << c.name;
}

class Nm_interface_order_test : public Nm_interface_test, public ::testing::WithParamInterface<Order_case>
{
};

TEST_P(Nm_interface_order_test, OnFoundRunsOnceWhenTheSecondServiceAppears)
{
    const std::string first = GetParam().first;
    const std::string second = GetParam().second;
    // the search of a service stops once its proxy is in place
    const std::string first_found =
        first == "network_state" ? "Stopping NetworkState service lookup" : "Stopping UserData service lookup";
    start();

    // the NM side offers one service
    command("offer " + first, first + " offered");
    ASSERT_TRUE(capture.wait_for(first_found, s_timeout));
    EXPECT_EQ(found_count(), 0);
    // a request goes out only when its own service is there
    sut->request_network({0x00, 0x00, 0x00, 0x01});
    sut->set_user_data({0x80, 0x00, 0x00});
    const std::string sent = first == "network_state" ? "RequestNetwork 00000001" : "SetUserData 800000";
    EXPECT_TRUE(m_peer->wait_for_line(sent, s_timeout));

    // and then the other
    command("offer " + second, second + " offered");

    ASSERT_TRUE(wait_found_count(1));
    ASSERT_TRUE(capture.wait_for("Stopping NetworkState service lookup", s_timeout));
    ASSERT_TRUE(capture.wait_for("Stopping UserData service lookup", s_timeout));
    EXPECT_EQ(capture.count("Found NetworkState service", LogLevel::kInfo), 1U);
    EXPECT_EQ(capture.count("Found UserData service", LogLevel::kInfo), 1U);
    sut->release_network({0x01, 0x00, 0x00, 0x00});
    sut->set_user_data({0x80, 0x04, 0x00});
    EXPECT_TRUE(m_peer->wait_for_line("ReleaseNetwork 01000000", s_timeout));
    EXPECT_TRUE(m_peer->wait_for_line("SetUserData 800400", s_timeout));
    EXPECT_EQ(found_count(), 1);
    for (const auto& line : m_peer->lines())
    {
        EXPECT_NE(line, first == "network_state" ? "SetUserData 800000" : "RequestNetwork 00000001");
    }
}

INSTANTIATE_TEST_SUITE_P(Orders,
                         Nm_interface_order_test,
                         ::testing::Values(Order_case{"NetworkStateFirst", "network_state", "user_data"},
                                           Order_case{"UserDataFirst", "user_data", "network_state"}),
                         [](const ::testing::TestParamInfo<Order_case>& c) { return std::string(c.param.name); });

TEST_F(Nm_interface_test, EmptySearchResultIsAWarningAndTheSearchGoesOn)
{
    start();
    ASSERT_TRUE(capture.wait_for("Could not find UserData service", s_timeout));
    ASSERT_TRUE(capture.wait_for("Could not find NetworkState service", s_timeout));
    EXPECT_EQ(capture.count("Could not find UserData service", LogLevel::kWarn), 1U);

    command("offer user_data", "user_data offered");
    command("offer network_state", "network_state offered");

    EXPECT_TRUE(wait_found_count(1));
}

TEST_F(Nm_interface_test, CallToAServiceThatIsDownIsLoggedAndTheCallerContinues)
{
    find_both();

    // the NM process dies
    m_peer->kill();
    sut->release_network({0x01});
    sut->set_user_data({0x80});

    const auto errors = capture.texts(LogLevel::kError);
    ASSERT_EQ(errors.size(), 2U);
    for (const auto& error : errors)
    {
        EXPECT_EQ(error.rfind("infrastructure exception ", 0), 0U) << error;
    }
}

TEST_F(Nm_interface_test, WithdrawnServiceGivesServiceNotAvailable)
{
    find_both();
    command("withdraw network_state", "network_state withdrawn");

    sut->request_network({0x01});

    // the withdrawal may still be on its way when the call goes out
    const auto errors = capture.texts(LogLevel::kError);
    ASSERT_EQ(errors.size(), 1U);
    EXPECT_EQ(errors[0].rfind("infrastructure exception ", 0), 0U) << errors[0];
    command("offer network_state", "network_state offered");
}

struct Failing_call_case
{
    const char* name;
    std::function<void(Nm_interface&)> call;
    const char* received;
    const char* error;
};

void PrintTo(const Failing_call_case& c, std::ostream* os)
{
    *os << c.name;
}

class Nm_interface_failing_call_test : public Nm_interface_test, public ::testing::WithParamInterface<Failing_call_case>
{
};

TEST_P(Nm_interface_failing_call_test, ErrorReplyIsLoggedWithItsReturnCodeAndTheCallerContinues)
{
    find_both();
    command("answer error 01", "answering error");

    // the NM side answers with return code 0x01
    GetParam().call(*sut);

    EXPECT_TRUE(m_peer->wait_for_line(GetParam().received, s_timeout));
    EXPECT_EQ(capture.texts(LogLevel::kError), std::vector<std::string>{GetParam().error});
    // and the next call, answered again, goes through as before
    command("answer ok", "answering ok");
    sut->request_network({0x02});
    EXPECT_TRUE(m_peer->wait_for_line("RequestNetwork 02", s_timeout));
    EXPECT_EQ(capture.texts(LogLevel::kError).size(), 1U);
}

INSTANTIATE_TEST_SUITE_P(Calls,
                         Nm_interface_failing_call_test,
                         ::testing::Values(Failing_call_case{"RequestNetwork",
                                                             [](Nm_interface& nm) {
                                                                 nm.request_network({0x00, 0x01});
                                                             },
                                                             "RequestNetwork 0001",
                                                             "NM call RequestNetwork failed with return code 0x01"},
                                           Failing_call_case{"ReleaseNetwork",
                                                             [](Nm_interface& nm) {
                                                                 nm.release_network({0x00, 0x01});
                                                             },
                                                             "ReleaseNetwork 0001",
                                                             "NM call ReleaseNetwork failed with return code 0x01"},
                                           Failing_call_case{"SetUserData",
                                                             [](Nm_interface& nm) {
                                                                 nm.set_user_data({0x80, 0x00, 0x00});
                                                             },
                                                             "SetUserData 800000",
                                                             "NM call SetUserData failed with return code 0x01"}),
                         [](const ::testing::TestParamInfo<Failing_call_case>& c)
                         { return std::string(c.param.name); });

TEST_F(Nm_interface_test, SilentNmSideHoldsACallOnlyForTheCallTimeout)
{
    find_both();
    command("answer silent", "answering silent");

    const auto start = std::chrono::steady_clock::now();
    sut->set_user_data({0x80, 0x04, 0x00});
    const auto waited = std::chrono::steady_clock::now() - start;

    EXPECT_TRUE(m_peer->wait_for_line("SetUserData 800400", s_timeout));
    EXPECT_GE(waited, Nm_interface::s_default_call_timeout - 50ms);
    EXPECT_LT(waited, Nm_interface::s_default_call_timeout + 1500ms);
    EXPECT_EQ(capture.texts(LogLevel::kError),
              std::vector<std::string>{"infrastructure exception no reply within 1000 ms"});
    // the late reply is dropped; the next call gets its own
    command("answer ok", "answering ok");
    sut->request_network({0x01});
    EXPECT_TRUE(m_peer->wait_for_line("RequestNetwork 01", s_timeout));
    EXPECT_EQ(capture.texts(LogLevel::kError).size(), 1U);
}

struct Call_timeout_case
{
    const char* name;
    const char* text;
    std::chrono::milliseconds timeout;
    bool warned;
};

void PrintTo(const Call_timeout_case& c, std::ostream* os)
{
    *os << c.name;
}

class Nm_interface_call_timeout_test : public ::testing::TestWithParam<Call_timeout_case>
{
  protected:
    ara::log::testing::Log_capture capture;
};

TEST_P(Nm_interface_call_timeout_test, EnvironmentTextGivesTheCallTimeout)
{
    const auto timeout = Nm_interface::call_timeout_from(GetParam().text);

    EXPECT_EQ(timeout, GetParam().timeout);
    EXPECT_EQ(capture.texts(LogLevel::kWarn).size(), GetParam().warned ? 1U : 0U);
}

INSTANTIATE_TEST_SUITE_P(Texts,
                         Nm_interface_call_timeout_test,
                         ::testing::Values(Call_timeout_case{"Unset", nullptr, 1000ms, false},
                                           Call_timeout_case{"Number", "250", 250ms, false},
                                           Call_timeout_case{"Smallest", "1", 1ms, false},
                                           Call_timeout_case{"Largest", "60000", 60000ms, false},
                                           Call_timeout_case{"Empty", "", 1000ms, true},
                                           Call_timeout_case{"Zero", "0", 1000ms, true},
                                           Call_timeout_case{"TooLarge", "60001", 1000ms, true},
                                           Call_timeout_case{"Huge", "99999999999999999999999", 1000ms, true},
                                           Call_timeout_case{"Negative", "-5", 1000ms, true},
                                           Call_timeout_case{"Unit", "500ms", 1000ms, true}),
                         [](const ::testing::TestParamInfo<Call_timeout_case>& c)
                         { return std::string(c.param.name); });

TEST_F(Nm_interface_test, NetworkStateChangesReachTheCallback)
{
    find_both();
    ASSERT_TRUE(wait_for_state({0x00}));

    command("state 0102", "state set");

    ASSERT_TRUE(wait_for_state({0x01, 0x02}));
    EXPECT_EQ(states(), (std::vector<Bytes>{{0x00}, {0x01, 0x02}}));
}

TEST_F(Nm_interface_test, OnlyTheLatestOfQueuedNetworkStatesIsDeliveredAndOnlyOnce)
{
    hold_state_callback();
    find_both();
    ASSERT_TRUE(wait_for_state({0x00}));

    // two changes arrive while the callback is still busy with the first value
    command("state 02", "state set");
    command("state 03", "state set");
    // the frames travel on; nothing in this process can be waited for until the callback returns
    std::this_thread::sleep_for(300ms);
    release_state_callback();

    ASSERT_TRUE(wait_for_state({0x03}));
    command("state 04", "state set");
    ASSERT_TRUE(wait_for_state({0x04}));
    EXPECT_EQ(states(), (std::vector<Bytes>{{0x00}, {0x03}, {0x04}}));
}

} // namespace
} // namespace vela::ap::statemanager
