#include "ara/log/testing/log_capture.h"
#include "client_state_notifier/component_client.hpp"
#include "client_state_notifier/tests/raw_client.hpp"
#include "testbed/support/temp_dir.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>

namespace client_state_notifier
{
namespace
{

using namespace std::chrono_literals;
using testing::Callback_recorder;
using ::testing::ElementsAre;
using testing::everyone;
using ::testing::Pair;
using testing::wait_until;

using Code = Component_client_return_type;

/// The requests that reached the handlers of all clients, in the order they arrived.
class Handler_log
{
  public:
    State_change_handler handler(const std::string& name, Code code = Code::success)
    {
        return [this, name, code](const std::string& requested)
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_entries.push_back(name + " " + requested);
            return State_change_answer{requested, code};
        };
    }

    std::vector<std::string> entries() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_entries;
    }

  private:
    // Guards m_entries: the clients' threads append, the test thread reads.
    mutable std::mutex m_mutex;
    std::vector<std::string> m_entries;
};

class Component_client_test : public ::testing::Test
{
  protected:
    std::unique_ptr<Client_states> start_server(const std::string& default_state = "kOn")
    {
        Server_options options;
        options.socket_path = m_path;
        return create_client_states(default_state, m_recorder.status_callback(), options);
    }

    std::unique_ptr<Component_client>
    make_client(const std::string& name, State_change_handler handler, const std::string& initial_state = "kOn")
    {
        Component_client_options options;
        options.socket_path = m_path;
        options.reconnect_pause = 10ms;
        return std::make_unique<Component_client>(name, std::move(handler), initial_state, options);
    }

    Callback_recorder::Completion round(Client_states& server, const std::string& state, Filter filter)
    {
        server.request_state_change(state, std::move(filter), m_recorder.completion_callback(), 5s);
        auto completion = m_recorder.wait_completion();
        EXPECT_TRUE(completion);
        return completion.value_or(Callback_recorder::Completion{});
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::string m_path = m_dir.file("ara_SM/ara_SM.socket");
    Callback_recorder m_recorder;
    Handler_log m_handled;
};

TEST_F(Component_client_test, ClientStartedBeforeTheServerConnectsOnceItListens)
{
    auto sut = make_client("app", m_handled.handler("app"), "kOn");
    EXPECT_FALSE(sut->wait_until_connected(150ms));

    auto server = start_server();

    ASSERT_TRUE(sut->wait_until_connected(5s));
    ASSERT_TRUE(wait_until([&] { return server->get_connected_clients().size() == 1; }));
    EXPECT_THAT(server->get_connected_clients(), ElementsAre(Pair("app", "kOn")));
}

TEST_F(Component_client_test, HandlerAnswerIsSentAndBecomesTheClientsState)
{
    auto server = start_server();
    auto sut = make_client("app", m_handled.handler("app"));
    ASSERT_TRUE(wait_until([&] { return server->get_connected_clients().size() == 1; }));

    const auto completion = round(*server, "kPrepSD", everyone);

    EXPECT_EQ(completion.status, Callback_status::success);
    EXPECT_THAT(completion.results, ElementsAre(Pair("app", Code::success)));
    EXPECT_EQ(sut->get_state(), "kPrepSD");
    EXPECT_THAT(m_handled.entries(), ElementsAre("app kPrepSD"));
}

struct Failure_case
{
    const char* name;
    State_change_handler handler;
    Code expected;
};

void PrintTo(const Failure_case& value, std::ostream* out)
{
    *out << value.name;
}

class Component_client_failure_test : public Component_client_test, public ::testing::WithParamInterface<Failure_case>
{
};

TEST_P(Component_client_failure_test, FailedRequestIsAnsweredWithItsCodeAndKeepsTheState)
{
    auto server = start_server();
    auto sut = make_client("app", GetParam().handler);
    ASSERT_TRUE(wait_until([&] { return server->get_connected_clients().size() == 1; }));

    const auto completion = round(*server, "kPrepSD", everyone);

    EXPECT_EQ(completion.status, Callback_status::error);
    EXPECT_THAT(completion.results, ElementsAre(Pair("app", GetParam().expected)));
    EXPECT_EQ(sut->get_state(), "kOn");
}

INSTANTIATE_TEST_SUITE_P(Failures,
                         Component_client_failure_test,
                         ::testing::Values(Failure_case{"HandlerReportsInvalid",
                                                        [](const std::string&) {
                                                            return State_change_answer{"kOn", Code::invalid};
                                                        },
                                                        Code::invalid},
                                           Failure_case{"HandlerThrows",
                                                        [](const std::string&) -> State_change_answer
                                                        { throw std::runtime_error("cannot stop"); },
                                                        Code::general_error}),
                         [](const ::testing::TestParamInfo<Failure_case>& param_info)
                         { return std::string(param_info.param.name); });

TEST_F(Component_client_test, ClientReconnectsToARestartedServerAndIsToldItsDefaultState)
{
    auto server = start_server();
    auto sut = make_client("app", m_handled.handler("app"));
    ASSERT_TRUE(wait_until([&] { return server->get_connected_clients().size() == 1; }));
    round(*server, "kPrepSD", everyone);

    // the state manager restarts
    server.reset();
    ASSERT_TRUE(wait_until([&] { return !sut->is_connected(); }));
    server = start_server("kOn");

    ASSERT_TRUE(wait_until([&] { return sut->get_state() == "kOn"; }));
    EXPECT_THAT(m_handled.entries(), ElementsAre("app kPrepSD", "app kOn"));
    ASSERT_TRUE(wait_until(
        [&] {
            return server->get_connected_clients() == std::vector<std::pair<std::string, std::string>>{{"app", "kOn"}};
        }));
}

TEST_F(Component_client_test, StandbyAndResumeReachTheGroupsInTheirOrder)
{
    auto server = start_server();
    auto dem = make_client("diag::dem", m_handled.handler("diag::dem"));
    auto app = make_client("navigation", m_handled.handler("navigation"));
    auto dcm = make_client("diag::dcm", m_handled.handler("diag::dcm"));
    ASSERT_TRUE(wait_until([&] { return server->get_connected_clients().size() == 3; }));
    const auto only = [](const char* wanted) { return [wanted](const std::string& name) { return name == wanted; }; };
    const auto apps = [](const std::string& name) { return name != "diag::dem" && name != "diag::dcm"; };

    // standby
    round(*server, "kPrepSD", only("diag::dcm"));
    round(*server, "kPrepSD", apps);
    round(*server, "kPrepSD", only("diag::dem"));
    // resume
    round(*server, "kOn", only("diag::dem"));
    round(*server, "kOn", apps);
    round(*server, "kOn", only("diag::dcm"));

    EXPECT_THAT(m_handled.entries(),
                ElementsAre("diag::dcm kPrepSD",
                            "navigation kPrepSD",
                            "diag::dem kPrepSD",
                            "diag::dem kOn",
                            "navigation kOn",
                            "diag::dcm kOn"));
    for (const auto& completion : m_recorder.completions())
    {
        EXPECT_EQ(completion.status, Callback_status::success);
        EXPECT_EQ(completion.results.size(), 1U);
    }
}

} // namespace
} // namespace client_state_notifier
