#include "ara/log/testing/log_capture.h"
#include "client_state_notifier/client_states.hpp"
#include "client_state_notifier/tests/mocks/mock_client_states.hpp"
#include "client_state_notifier/tests/raw_client.hpp"
#include "testbed/support/temp_dir.hpp"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>

namespace client_state_notifier
{
namespace
{

using namespace std::chrono_literals;
using testing::Callback_recorder;
using ::testing::ElementsAre;
using testing::everyone;
using ::testing::Pair;
using testing::Raw_client;
using testing::wait_until;

using Code = Component_client_return_type;

bool named(const std::string& wanted, const std::string& name)
{
    return name == wanted;
}

class Client_states_test : public ::testing::Test
{
  protected:
    Server_options options() const
    {
        Server_options result;
        result.socket_path = m_path;
        result.hello_timeout = 300ms;
        return result;
    }

    /// A client that has sent its hello and is registered.
    std::unique_ptr<Raw_client> connect(const std::string& name, const std::string& state = "kOn")
    {
        auto client = std::make_unique<Raw_client>(m_path);
        client->send_hello(name, state);
        const auto before = m_count;
        EXPECT_TRUE(wait_until([&] { return sut->get_connected_clients().size() > before; }));
        ++m_count;
        return client;
    }

    void request(const std::string& state, Filter filter, std::chrono::seconds timeout = 5s, std::string tag = "")
    {
        sut->request_state_change(state, std::move(filter), m_recorder.completion_callback(std::move(tag)), timeout);
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::string m_path = m_dir.file("run/ara_SM/ara_SM.socket");
    Callback_recorder m_recorder;
    std::size_t m_count{0};
    std::unique_ptr<Client_states> sut = create_client_states("kOn", m_recorder.status_callback(), options());
};

TEST_F(Client_states_test, SocketListensOnceTheServerIsCreated)
{
    // whoever learns that the server exists (the state manager's readiness) may connect at once
    for (int round = 0; round < 20; ++round)
    {
        // the previous server removes its socket file as it goes
        sut.reset();
        sut = create_client_states("kOn", m_recorder.status_callback(), options());
        const auto address = utilities::create_unix_address(m_path);
        const utilities::Socket client(AF_UNIX, SOCK_STREAM, 0);

        const int connected = ::connect(client.get_fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));

        ASSERT_EQ(connected, 0) << "round " << round << ": " << std::strerror(errno);
    }
}

TEST_F(Client_states_test, ClientInTheDefaultStateIsNotAskedAtConnection)
{
    auto client = connect("app", "kOn");

    EXPECT_TRUE(client->receives_nothing(100ms));
    EXPECT_TRUE(m_capture.contains("client connected: name = app, current state = kOn"));
    EXPECT_THAT(sut->get_connected_clients(), ElementsAre(Pair("app", "kOn")));
}

TEST_F(Client_states_test, ClientInAnotherStateIsAskedAtOnceWithIdOne)
{
    auto client = connect("app", "kPrepSD");

    const auto request = client->receive_request();

    ASSERT_TRUE(request);
    EXPECT_EQ(request->id, 1U);
    EXPECT_EQ(request->state, "kOn");
}

TEST_F(Client_states_test, NewDefaultStateAppliesToClientsConnectingAfterwards)
{
    auto early = connect("early", "kOn");

    sut->set_default_state("kPrepSD");
    auto late = connect("late", "kOn");

    const auto request = late->receive_request();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->state, "kPrepSD");
    EXPECT_TRUE(early->receives_nothing(50ms));
}

TEST_F(Client_states_test, DuplicateNameIsReportedAndBothConnectionsAreAsked)
{
    auto first = connect("app");
    auto second = connect("app", "kPrepSD");
    ASSERT_TRUE(m_recorder.wait_status_events(1));
    ASSERT_TRUE(second->receive_request());

    request("kPrepSD", everyone);

    const auto events = m_recorder.status_events();
    EXPECT_EQ(events[0].name, "app");
    EXPECT_EQ(events[0].status, Client_status::name_already_connected);
    EXPECT_EQ(events[0].state, "kPrepSD");
    EXPECT_TRUE(first->receive_request());
    EXPECT_TRUE(second->receive_request());
}

struct Nobody_case
{
    const char* name;
    bool with_client;
};

void PrintTo(const Nobody_case& value, std::ostream* out)
{
    *out << value.name;
}

class Client_states_nobody_test : public Client_states_test, public ::testing::WithParamInterface<Nobody_case>
{
};

TEST_P(Client_states_nobody_test, RequestReachingNobodySucceedsAtOnceWithAnEmptyMap)
{
    std::unique_ptr<Raw_client> client;
    if (GetParam().with_client)
    {
        client = connect("app");
    }

    request("kPrepSD", [](const std::string& name) { return named("diag::dem", name); });

    const auto completion = m_recorder.wait_completion();
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, Callback_status::success);
    EXPECT_TRUE(completion->results.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases,
                         Client_states_nobody_test,
                         ::testing::Values(Nobody_case{"NoClientConnected", false},
                                           Nobody_case{"FilterSelectsNobody", true}),
                         [](const ::testing::TestParamInfo<Nobody_case>& param_info)
                         { return std::string(param_info.param.name); });

TEST_F(Client_states_test, StandbyAndResumeRoundsCarryPerConnectionRequestIds)
{
    auto dcm = connect("diag::dcm");
    auto app_a = connect("app_a");
    auto app_b = connect("app_b");
    auto dem = connect("diag::dem");
    const auto dcm_only = [](const std::string& name) { return named("diag::dcm", name); };
    const auto dem_only = [](const std::string& name) { return named("diag::dem", name); };
    const auto apps = [](const std::string& name) { return name != "diag::dem" && name != "diag::dcm"; };
    const auto answer_round = [](std::vector<Raw_client*> clients, std::uint32_t id, const std::string& state)
    {
        for (auto* client : clients)
        {
            const auto received = client->receive_request();
            ASSERT_TRUE(received);
            EXPECT_EQ(received->id, id);
            EXPECT_EQ(received->state, state);
            client->answer(received->id, state, 0);
        }
    };

    // standby: DCM, applications, DEM
    request("kPrepSD", dcm_only);
    answer_round({dcm.get()}, 2, "kPrepSD");
    const auto dcm_standby = m_recorder.wait_completion();
    sut->set_default_state("kPrepSD");
    request("kPrepSD", apps);
    answer_round({app_a.get(), app_b.get()}, 2, "kPrepSD");
    const auto apps_standby = m_recorder.wait_completion();
    request("kPrepSD", dem_only);
    answer_round({dem.get()}, 2, "kPrepSD");
    const auto dem_standby = m_recorder.wait_completion();
    // resume: DEM, applications, DCM
    request("kOn", dem_only);
    answer_round({dem.get()}, 3, "kOn");
    const auto dem_resume = m_recorder.wait_completion();
    sut->set_default_state("kOn");
    request("kOn", apps);
    answer_round({app_a.get(), app_b.get()}, 3, "kOn");
    const auto apps_resume = m_recorder.wait_completion();
    request("kOn", dcm_only);
    answer_round({dcm.get()}, 3, "kOn");
    const auto dcm_resume = m_recorder.wait_completion();

    ASSERT_TRUE(dcm_standby && apps_standby && dem_standby && dem_resume && apps_resume && dcm_resume);
    EXPECT_THAT(dcm_standby->results, ElementsAre(Pair("diag::dcm", Code::success)));
    EXPECT_THAT(apps_standby->results, ElementsAre(Pair("app_a", Code::success), Pair("app_b", Code::success)));
    EXPECT_THAT(dem_standby->results, ElementsAre(Pair("diag::dem", Code::success)));
    EXPECT_THAT(dem_resume->results, ElementsAre(Pair("diag::dem", Code::success)));
    EXPECT_THAT(apps_resume->results, ElementsAre(Pair("app_a", Code::success), Pair("app_b", Code::success)));
    EXPECT_THAT(dcm_resume->results, ElementsAre(Pair("diag::dcm", Code::success)));
    for (const auto* completion :
         {&*dcm_standby, &*apps_standby, &*dem_standby, &*dem_resume, &*apps_resume, &*dcm_resume})
    {
        EXPECT_EQ(completion->status, Callback_status::success);
    }
    for (auto* client : {dcm.get(), app_a.get(), app_b.get(), dem.get()})
    {
        EXPECT_TRUE(client->receives_nothing(20ms));
    }
    EXPECT_THAT(
        sut->get_connected_clients(),
        ElementsAre(Pair("diag::dcm", "kOn"), Pair("app_a", "kOn"), Pair("app_b", "kOn"), Pair("diag::dem", "kOn")));
}

TEST_F(Client_states_test, SuccessNamingAnotherStateIsRecordedAndReported)
{
    auto client = connect("app");
    request("kPrepSD", everyone);
    const auto received = client->receive_request();
    ASSERT_TRUE(received);

    client->answer(received->id, "kSomethingElse", 0);

    const auto completion = m_recorder.wait_completion();
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, Callback_status::success);
    const auto events = m_recorder.status_events();
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].status, Client_status::unexpected_state_change);
    EXPECT_EQ(events[0].state, "kSomethingElse");
    EXPECT_THAT(sut->get_connected_clients(), ElementsAre(Pair("app", "kSomethingElse")));
}

TEST_F(Client_states_test, AnswerWithAnOldIdIsReportedAndNotRecorded)
{
    auto client = connect("app");
    request("kPrepSD", everyone);
    const auto received = client->receive_request();
    ASSERT_TRUE(received);

    client->answer(received->id - 1, "kPrepSD", 0);
    ASSERT_TRUE(m_recorder.wait_status_events(1));
    EXPECT_FALSE(m_recorder.wait_completion(50ms));
    client->answer(received->id, "kPrepSD", 0);

    EXPECT_EQ(m_recorder.status_events()[0].status, Client_status::unexpected_state_change);
    const auto completion = m_recorder.wait_completion();
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, Callback_status::success);
}

struct Answer_case
{
    const char* name;
    std::uint32_t code;
    Callback_status status;
    Code recorded;
};

void PrintTo(const Answer_case& value, std::ostream* out)
{
    *out << value.name;
}

class Client_states_answer_test : public Client_states_test, public ::testing::WithParamInterface<Answer_case>
{
};

TEST_P(Client_states_answer_test, LowByteOfTheCodeDecidesTheOverallStatus)
{
    auto good = connect("good");
    auto other = connect("other");
    request("kPrepSD", everyone);
    const auto good_request = good->receive_request();
    const auto other_request = other->receive_request();
    ASSERT_TRUE(good_request && other_request);

    good->answer(good_request->id, "kPrepSD", 0);
    other->answer(other_request->id, "kPrepSD", GetParam().code);

    const auto completion = m_recorder.wait_completion();
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, GetParam().status);
    EXPECT_THAT(completion->results, ElementsAre(Pair("good", Code::success), Pair("other", GetParam().recorded)));
}

INSTANTIATE_TEST_SUITE_P(
    Codes,
    Client_states_answer_test,
    ::testing::Values(Answer_case{"Success", 0, Callback_status::success, Code::success},
                      Answer_case{"GeneralError", 1, Callback_status::error, Code::general_error},
                      Answer_case{"Invalid", 2, Callback_status::error, Code::invalid},
                      Answer_case{"OnlyLowByteCounts", 0x100, Callback_status::success, Code::success},
                      Answer_case{"UnknownCodeKept", 7, Callback_status::error, static_cast<Code>(7)}),
    [](const ::testing::TestParamInfo<Answer_case>& param_info) { return std::string(param_info.param.name); });

TEST_F(Client_states_test, SilentClientIsReportedTimedOutBesideTheAnsweredOne)
{
    auto answering = connect("answering");
    auto silent = connect("silent");
    const auto started = std::chrono::steady_clock::now();
    request("kPrepSD", everyone, 1s);
    const auto received = answering->receive_request();
    ASSERT_TRUE(received);
    answering->answer(received->id, "kPrepSD", 0);

    const auto completion = m_recorder.wait_completion();

    ASSERT_TRUE(completion);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(completion->status, Callback_status::timeout);
    EXPECT_THAT(completion->results, ElementsAre(Pair("answering", Code::success), Pair("silent", Code::timed_out)));
    EXPECT_TRUE(m_capture.contains("calling callback after some clients timed out"));
}

TEST_F(Client_states_test, ZeroTimeoutReportsUnansweredClientsAtTheNextPoll)
{
    auto client = connect("app");

    request("kPrepSD", everyone, 0s);

    const auto completion = m_recorder.wait_completion(1s);
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, Callback_status::timeout);
    EXPECT_THAT(completion->results, ElementsAre(Pair("app", Code::timed_out)));
}

TEST_F(Client_states_test, PastDeadlineCompletesWhileAnotherClientKeepsTheServerBusy)
{
    auto silent = connect("silent");
    auto chatty = connect("chatty");
    std::atomic<bool> done{false};
    // chatty answers with an id that is never current, as fast as it can
    std::thread flood(
        [&]
        {
            while (!done)
            {
                chatty->answer(1000, "kOn", 0);
            }
        });

    request(
        "kPrepSD", [](const std::string& name) { return named("silent", name); }, 0s);

    const auto completion = m_recorder.wait_completion(2s);
    done = true;
    flood.join();
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, Callback_status::timeout);
}

TEST_F(Client_states_test, ClientLeavingWhileAwaitedIsLeftOutOfTheResult)
{
    auto staying = connect("staying");
    auto leaving = connect("leaving");
    request("kPrepSD", everyone);
    const auto received = staying->receive_request();
    ASSERT_TRUE(received && leaving->receive_request());
    staying->answer(received->id, "kPrepSD", 0);

    leaving->close();

    const auto completion = m_recorder.wait_completion();
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, Callback_status::success);
    EXPECT_THAT(completion->results, ElementsAre(Pair("staying", Code::success)));
    EXPECT_TRUE(m_capture.wait_for("client disconnected: leaving", 1s));
    EXPECT_THAT(sut->get_connected_clients(), ElementsAre(Pair("staying", "kPrepSD")));
}

TEST_F(Client_states_test, RequestReplacedBeforeTheServerTookItNeverCallsBack)
{
    auto client = connect("app");
    // hold the server thread inside a client-status callback (it holds the clients lock there)
    m_recorder.close_gate();
    auto duplicate = std::make_unique<Raw_client>(m_path);
    duplicate->send_hello("app", "kOn");
    ASSERT_TRUE(m_recorder.wait_blocked());

    request("kPrepSD", everyone, 5s, "first");
    request("kOff", everyone, 5s, "second");
    m_recorder.open_gate();

    const auto received = client->receive_request();
    ASSERT_TRUE(received);
    EXPECT_EQ(received->id, 2U);
    EXPECT_EQ(received->state, "kOff");
    client->answer(received->id, "kOff", 0);
    const auto duplicate_request = duplicate->receive_request();
    ASSERT_TRUE(duplicate_request);
    const auto completion = m_recorder.wait_completion();
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->tag, "second");
    EXPECT_TRUE(client->receives_nothing(50ms));
    EXPECT_EQ(m_recorder.completions().size(), 1U);
}

TEST_F(Client_states_test, NewerRequestDropsTheCurrentOneAndLateAnswersAreUnexpected)
{
    auto client = connect("app");
    request("kPrepSD", everyone, 5s, "first");
    const auto first = client->receive_request();
    request("kOn", everyone, 5s, "second");
    const auto second = client->receive_request();
    ASSERT_TRUE(first && second);

    client->answer(first->id, "kPrepSD", 0);
    client->answer(second->id, "kOn", 0);

    const auto completion = m_recorder.wait_completion();
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->tag, "second");
    EXPECT_EQ(second->id, first->id + 1);
    const auto events = m_recorder.status_events();
    ASSERT_EQ(events.size(), 1U);
    EXPECT_EQ(events[0].status, Client_status::unexpected_state_change);
    EXPECT_FALSE(m_recorder.wait_completion(50ms));
}

TEST_F(Client_states_test, EmptyFilterOrCallbackIsRefused)
{
    EXPECT_THROW(sut->request_state_change("kOn", Filter{}, m_recorder.completion_callback(), 1s),
                 std::bad_function_call);
    EXPECT_THROW(sut->request_state_change("kOn", everyone, Completion_callback{}, 1s), std::bad_function_call);
    EXPECT_THROW(create_client_states("kOn", Client_status_callback{}, options()), std::bad_function_call);
}

TEST_F(Client_states_test, DestructionClosesClientsAndRemovesTheSocketFile)
{
    auto client = connect("app");

    sut.reset();

    EXPECT_TRUE(client->closed_by_server(1s));
    EXPECT_FALSE(utilities::file_exists(m_path));
}

TEST(Client_states_stopped_test, ServerThatCannotBindRefusesRequests)
{
    ara::log::testing::Log_capture capture;
    tarn1::testing::Temp_dir dir;
    Callback_recorder recorder;
    Server_options options;
    options.socket_path = dir.write_file("plain_file", "x") + "/ara_SM.socket";
    auto sut = create_client_states("kOn", recorder.status_callback(), options);

    ASSERT_TRUE(wait_until([&] { return capture.contains_fragment("Client_states_impl thread crashed: mkdir('"); }));

    EXPECT_THROW(sut->request_state_change("kPrepSD", everyone, recorder.completion_callback(), 1s),
                 Exception_server_stopped);
    EXPECT_FALSE(recorder.wait_completion(50ms));
}

} // namespace
} // namespace client_state_notifier

namespace client_state_notifier
{
namespace
{

TEST(Client_states_crash_test, ServerThreadEndingWithARequestInFlightCompletesItWithError)
{
    ara::log::testing::Log_capture capture;
    tarn1::testing::Temp_dir dir;
    Callback_recorder recorder;
    Server_options options;
    options.socket_path = dir.file("ara_SM.socket");
    auto sut = create_client_states(
        "kOn",
        [](const std::string&, Client_status, const std::string&)
        { throw std::runtime_error("status handler failed"); },
        options);
    Raw_client client(options.socket_path);
    client.send_hello("app", "kOn");
    ASSERT_TRUE(wait_until([&] { return sut->get_connected_clients().size() == 1; }));
    sut->request_state_change("kPrepSD", everyone, recorder.completion_callback(), 5s);
    const auto received = client.receive_request();
    ASSERT_TRUE(received);

    // an answer with an old id reaches the status callback, which throws on the server thread
    client.answer(received->id - 1, "kPrepSD", 0);

    const auto completion = recorder.wait_completion();
    ASSERT_TRUE(completion);
    EXPECT_EQ(completion->status, Callback_status::error);
    EXPECT_TRUE(capture.contains("Client_states_impl thread crashed: status handler failed"));
    EXPECT_THROW(sut->request_state_change("kOn", everyone, recorder.completion_callback(), 1s),
                 Exception_server_stopped);
}

} // namespace
} // namespace client_state_notifier
