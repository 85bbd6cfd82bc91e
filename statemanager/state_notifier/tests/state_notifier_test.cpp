#include "ara/log/testing/log_capture.h"
#include "client_state_notifier/tests/mocks/mock_client_states.hpp"
#include "statemanager/state_notifier/state_notifier.hpp"
#include "statemanager/status/tests/mocks/mock_recorders.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <ostream>
#include <system_error>

namespace vela::ap::statemanager::state_notifier
{
namespace
{

using namespace std::chrono_literals;
using ara::log::LogLevel;
using client_state_notifier::Callback_status;
using client_state_notifier::Client_status;
using client_state_notifier::Client_status_callback;
using client_state_notifier::Completion_callback;
using client_state_notifier::Exception_server_stopped;
using client_state_notifier::Filter;
using client_state_notifier::Result_map;
using client_state_notifier::testing::Mock_client_states;
using ::testing::_;
using ::testing::ElementsAre;
using ::testing::NiceMock;

using Code = client_state_notifier::Component_client_return_type;

constexpr std::chrono::seconds s_app_timeout{7};
constexpr std::chrono::seconds s_dm_timeout{3};

/// One call into the server as the notifier made it.
struct Server_call
{
    std::string text;
    Filter filter;
    Completion_callback callback;
};

/// "dcm", "dem" or "apps": the group a filter selects, judged on one name of each group.
std::string group_of(const Filter& filter)
{
    std::string group;
    if (filter("diag::dcm"))
    {
        group += "dcm";
    }
    if (filter("diag::dem"))
    {
        group += "dem";
    }
    if (filter("navigation"))
    {
        group += "apps";
    }
    return group;
}

class State_notifier_test : public ::testing::Test
{
  protected:
    State_notifier_test()
    {
        ON_CALL(*m_server, set_default_state(_))
            .WillByDefault(
                [this](std::string state) {
                    m_calls.push_back(Server_call{"default " + state, {}, {}});
                });
        ON_CALL(*m_server, request_state_change(_, _, _, _))
            .WillByDefault(
                [this](const std::string& state,
                       Filter filter,
                       Completion_callback callback,
                       const std::chrono::seconds& timeout)
                {
                    auto text = group_of(filter) + " " + state + " " + std::to_string(timeout.count()) + "s";
                    m_calls.push_back(Server_call{std::move(text), std::move(filter), std::move(callback)});
                });
    }

    Client_states_factory factory()
    {
        return [this](const std::string& /*default_state*/, Client_status_callback callback)
        {
            m_status_callback = std::move(callback);
            return std::move(m_owned_server);
        };
    }

    std::vector<std::string> call_texts() const
    {
        std::vector<std::string> texts;
        for (const auto& call : m_calls)
        {
            texts.push_back(call.text);
        }
        return texts;
    }

    /// The latest request's group answers.
    void complete_latest(Callback_status status = Callback_status::success, const Result_map& results = {})
    {
        for (auto call = m_calls.rbegin(); call != m_calls.rend(); ++call)
        {
            if (call->callback)
            {
                call->callback(status, results);
                return;
            }
        }
        FAIL() << "no request was made";
    }

    std::size_t request_count() const
    {
        std::size_t count = 0;
        for (const auto& call : m_calls)
        {
            count += call.callback ? 1 : 0;
        }
        return count;
    }

    ara::log::testing::Log_capture m_capture;
    std::unique_ptr<NiceMock<Mock_client_states>> m_owned_server = std::make_unique<NiceMock<Mock_client_states>>();
    NiceMock<Mock_client_states>* m_server = m_owned_server.get();
    std::vector<Server_call> m_calls;
    Client_status_callback m_status_callback;
    State_notifier sut{s_app_timeout, s_dm_timeout, factory()};
};

TEST_F(State_notifier_test, CheckWithoutSequenceReturnsFalseAndLogsNothing)
{
    const bool active = sut.check_request_status();

    EXPECT_FALSE(active);
    EXPECT_TRUE(m_capture.texts().empty());
    EXPECT_TRUE(m_calls.empty());
}

TEST_F(State_notifier_test, StandbyTellsDcmThenApplicationsThenDemOneStepPerCheck)
{
    // the preparing state starts the sequence
    sut.request_standby();
    EXPECT_TRUE(sut.check_request_status());
    EXPECT_EQ(request_count(), 1U);

    // DCM answers; the next check asks the applications
    complete_latest();
    EXPECT_TRUE(sut.check_request_status());
    // applications answer; the next check asks the DEM
    complete_latest();
    EXPECT_TRUE(sut.check_request_status());
    // DEM answers: the sequence has ended
    complete_latest();
    const bool active = sut.check_request_status();

    EXPECT_FALSE(active);
    EXPECT_THAT(call_texts(), ElementsAre("dcm kPrepSD 3s", "default kPrepSD", "apps kPrepSD 7s", "dem kPrepSD 3s"));
    EXPECT_THAT(m_capture.texts(LogLevel::kInfo),
                ElementsAre("Starting standby sequence",
                            "Requesting kPrepSD mode for DCM",
                            "Received DCM client completion notification for kPrepSD. Status: 0",
                            "Requesting kPrepSD mode for client applications",
                            "Received application client completion notification for kPrepSD. Status: 0",
                            "Requesting kPrepSD mode for DEM",
                            "Received DEM client completion notification for kPrepSD. Status: 0"));
}

TEST_F(State_notifier_test, ResumeTellsDemThenApplicationsThenDcmOneStepPerCheck)
{
    sut.request_resume();
    EXPECT_TRUE(sut.check_request_status());
    complete_latest();
    EXPECT_TRUE(sut.check_request_status());
    complete_latest();
    EXPECT_TRUE(sut.check_request_status());
    complete_latest();

    const bool active = sut.check_request_status();

    EXPECT_FALSE(active);
    EXPECT_THAT(call_texts(), ElementsAre("dem kOn 3s", "default kOn", "apps kOn 7s", "dcm kOn 3s"));
    EXPECT_THAT(m_capture.texts(LogLevel::kInfo),
                ElementsAre("Starting resume sequence",
                            "Requesting kOn mode for DEM",
                            "Received DEM client completion notification for kOn. Status: 0",
                            "Requesting kOn mode for client applications",
                            "Received application client completion notification for kOn. Status: 0",
                            "Requesting kOn mode for DCM",
                            "Received DCM client completion notification for kOn. Status: 0"));
}

TEST_F(State_notifier_test, FiltersSeparateTheDiagnosticManagersFromTheApplications)
{
    sut.request_standby();
    complete_latest();
    sut.check_request_status();
    complete_latest();
    sut.check_request_status();

    ASSERT_EQ(m_calls.size(), 4U);
    const auto& dcm = m_calls[0].filter;
    const auto& apps = m_calls[2].filter;
    const auto& dem = m_calls[3].filter;
    for (const std::string name : {"diag::dcm", "diag::dem", "navigation", "diag::dcm2", "diag::", "", "DIAG::DEM"})
    {
        const bool is_dcm = name == "diag::dcm";
        const bool is_dem = name == "diag::dem";
        EXPECT_EQ(dcm(name), is_dcm) << name;
        EXPECT_EQ(dem(name), is_dem) << name;
        EXPECT_EQ(apps(name), !is_dcm && !is_dem) << name;
    }
}

TEST_F(State_notifier_test, StepThatTimedOutLogsEachClientAtItsLevelAndIsFollowedByTheNext)
{
    sut.request_standby();
    m_capture.clear();

    complete_latest(Callback_status::timeout,
                    Result_map{{"diag::dcm", Code::timed_out},
                               {"b_app", Code::general_error},
                               {"a_app", Code::success},
                               {"c_app", Code::invalid},
                               {"d_app", static_cast<Code>(7)}});

    const auto messages = m_capture.messages();
    ASSERT_EQ(messages.size(), 5U);
    const std::pair<LogLevel, std::string> expected[] = {
        {LogLevel::kInfo, "Received DCM client completion notification for kPrepSD. Status: 1"},
        {LogLevel::kInfo, "State notification client [a_app] succeeded"},
        {LogLevel::kError, "State notification client [b_app] general error"},
        {LogLevel::kError, "State notification client [c_app] invalid"},
        {LogLevel::kWarn, "State notification client [diag::dcm] timed out"}};
    for (std::size_t index = 0; index < messages.size(); ++index)
    {
        EXPECT_EQ(messages[index].level, expected[index].first) << index;
        EXPECT_EQ(messages[index].text, expected[index].second) << index;
    }
    EXPECT_TRUE(sut.check_request_status());
    EXPECT_THAT(call_texts(), ElementsAre("dcm kPrepSD 3s", "default kPrepSD", "apps kPrepSD 7s"));
}

TEST_F(State_notifier_test, ClientStatusReportIsLoggedAsAnError)
{
    m_status_callback("navigation", Client_status::unexpected_state_change, "kPrepSD");
    m_status_callback("diag::dem", Client_status::name_already_connected, "kOn");

    EXPECT_EQ(m_capture.count("Client navigation errorneously reported state change to kPrepSD. Client status: 1",
                              LogLevel::kError),
              1U);
    EXPECT_EQ(m_capture.count("Client diag::dem errorneously reported state change to kOn. Client status: 0",
                              LogLevel::kError),
              1U);
}

TEST_F(State_notifier_test, RepeatedClientStatusReportsAreLoggedUpToTheBurstPerClientAndKind)
{
    Client_status_callback report;
    utilities::Log_limits limits;
    limits.interval = std::chrono::hours(1);
    State_notifier limited(
        s_app_timeout,
        s_dm_timeout,
        [&report](const std::string&, Client_status_callback callback)
        {
            report = std::move(callback);
            return std::make_unique<NiceMock<Mock_client_states>>();
        },
        limits);

    for (int index = 0; index < 10000; ++index)
    {
        report("navigation", Client_status::unexpected_state_change, "kPrepSD");
    }
    report("media", Client_status::unexpected_state_change, "kPrepSD");
    report("navigation", Client_status::name_already_connected, "kOn");

    EXPECT_EQ(m_capture.count("Client navigation errorneously reported state change to kPrepSD. Client status: 1",
                              LogLevel::kError),
              limits.per_peer);
    EXPECT_EQ(m_capture.count("Client media errorneously reported state change to kPrepSD. Client status: 1"), 1U);
    EXPECT_EQ(m_capture.count("Client navigation errorneously reported state change to kOn. Client status: 0"), 1U);
}

TEST_F(State_notifier_test, ResumeDuringASequenceOnlyChangesTheTarget)
{
    sut.request_resume();

    sut.request_resume();

    EXPECT_THAT(call_texts(), ElementsAre("dem kOn 3s"));
    EXPECT_EQ(m_capture.count("Starting resume sequence"), 2U);
}

TEST_F(State_notifier_test, CompletionOfASupersededStepIsIgnored)
{
    sut.request_resume();
    const auto superseded_dem = m_calls[0].callback;
    // standby arrives during the DEM step of the resume
    sut.request_standby();

    // the superseded DEM request completes anyway (it was already on its way)
    superseded_dem(Callback_status::success, Result_map{});
    sut.check_request_status();

    EXPECT_THAT(call_texts(), ElementsAre("dem kOn 3s", "dcm kPrepSD 3s"));
    EXPECT_EQ(m_capture.count("Received DEM client completion notification for kPrepSD. Status: 0"), 0U);
}

TEST_F(State_notifier_test, CompletionNotYetActedOnDoesNotSteerARestartedStandby)
{
    sut.request_resume();
    // the DEM completes, but no check runs before standby is requested
    complete_latest();

    sut.request_standby();
    sut.check_request_status();

    EXPECT_THAT(call_texts(), ElementsAre("dem kOn 3s", "dcm kPrepSD 3s"));
}

/// A redirection: a sequence is started, some of its steps complete, the other one is requested.
struct Redirection_case
{
    const char* name;
    bool standby_first;
    int steps_before;
    std::vector<std::string> requests;
};

void PrintTo(const Redirection_case& value, std::ostream* out)
{
    *out << value.name;
}

class State_notifier_redirection_test : public State_notifier_test,
                                        public ::testing::WithParamInterface<Redirection_case>
{
};

TEST_P(State_notifier_redirection_test, SequenceRunsOnInTheNewTargetsOrderAndEnds)
{
    const auto& param = GetParam();
    param.standby_first ? sut.request_standby() : sut.request_resume();
    for (int step = 0; step < param.steps_before; ++step)
    {
        complete_latest();
        ASSERT_TRUE(sut.check_request_status());
    }

    param.standby_first ? sut.request_resume() : sut.request_standby();
    bool active = true;
    for (int round = 0; round < 10 && active; ++round)
    {
        complete_latest();
        active = sut.check_request_status();
    }

    EXPECT_FALSE(active);
    std::vector<std::string> requests;
    for (const auto& call : m_calls)
    {
        if (call.callback)
        {
            requests.push_back(call.text.substr(0, call.text.rfind(' ')));
        }
    }
    EXPECT_EQ(requests, param.requests);
}

INSTANTIATE_TEST_SUITE_P(
    Redirections,
    State_notifier_redirection_test,
    ::testing::Values(
        Redirection_case{"ResumeDuringDcmStepOfStandby", true, 0, {"dcm kPrepSD", "dcm kOn"}},
        Redirection_case{
            "ResumeDuringApplicationsStepOfStandby", true, 1, {"dcm kPrepSD", "apps kPrepSD", "apps kOn", "dcm kOn"}},
        // the DEM is asked back to "kOn" and the whole resume order follows, so no client stays in standby
        Redirection_case{"ResumeDuringDemStepOfStandby",
                         true,
                         2,
                         {"dcm kPrepSD", "apps kPrepSD", "dem kPrepSD", "dem kOn", "apps kOn", "dcm kOn"}},
        Redirection_case{
            "StandbyDuringDemStepOfResume", false, 0, {"dem kOn", "dcm kPrepSD", "apps kPrepSD", "dem kPrepSD"}},
        Redirection_case{"StandbyDuringApplicationsStepOfResume",
                         false,
                         1,
                         {"dem kOn", "apps kOn", "dcm kPrepSD", "apps kPrepSD", "dem kPrepSD"}},
        Redirection_case{"StandbyDuringDcmStepOfResume",
                         false,
                         2,
                         {"dem kOn", "apps kOn", "dcm kOn", "dcm kPrepSD", "apps kPrepSD", "dem kPrepSD"}}),
    [](const ::testing::TestParamInfo<Redirection_case>& param) { return std::string{param.param.name}; });

TEST_F(State_notifier_test, StandbyDuringAStandbyStartsAgainWithTheDcm)
{
    sut.request_standby();
    complete_latest();
    sut.check_request_status();

    sut.request_standby();

    EXPECT_THAT(call_texts(), ElementsAre("dcm kPrepSD 3s", "default kPrepSD", "apps kPrepSD 7s", "dcm kPrepSD 3s"));
}

/// How the server fails to take a request.
struct Server_failure_case
{
    const char* name;
    std::function<void(NiceMock<Mock_client_states>&)> arrange;
    const char* reason;
};

void PrintTo(const Server_failure_case& value, std::ostream* out)
{
    *out << value.name;
}

class State_notifier_server_failure_test : public State_notifier_test,
                                           public ::testing::WithParamInterface<Server_failure_case>
{
};

TEST_P(State_notifier_server_failure_test, StandbyAndResumeStillEndWithErrorSteps)
{
    GetParam().arrange(*m_server);

    sut.request_standby();
    int standby_checks = 1;
    while (sut.check_request_status() && standby_checks < 10)
    {
        ++standby_checks;
    }
    sut.request_resume();
    int resume_checks = 1;
    while (sut.check_request_status() && resume_checks < 10)
    {
        ++resume_checks;
    }

    // the first check issues the applications step, the second the last one, which ends at once
    EXPECT_EQ(standby_checks, 2);
    EXPECT_EQ(resume_checks, 2);
    const std::string reason = GetParam().reason;
    EXPECT_THAT(
        m_capture.texts(LogLevel::kError),
        ElementsAre("Requesting kPrepSD mode for DCM failed, the step ends with error: " + reason,
                    "Requesting kPrepSD mode for client applications failed, the step ends with error: " + reason,
                    "Requesting kPrepSD mode for DEM failed, the step ends with error: " + reason,
                    "Requesting kOn mode for DEM failed, the step ends with error: " + reason,
                    "Requesting kOn mode for client applications failed, the step ends with error: " + reason,
                    "Requesting kOn mode for DCM failed, the step ends with error: " + reason));
    EXPECT_EQ(m_capture.count("Received DEM client completion notification for kPrepSD. Status: 2", LogLevel::kInfo),
              1U);
    EXPECT_EQ(m_capture.count("Received DCM client completion notification for kOn. Status: 2", LogLevel::kInfo), 1U);
}

INSTANTIATE_TEST_SUITE_P(
    Failures,
    State_notifier_server_failure_test,
    ::testing::Values(Server_failure_case{"ServerThreadEnded",
                                          [](NiceMock<Mock_client_states>& server)
                                          {
                                              ON_CALL(server, request_state_change(_, _, _, _))
                                                  .WillByDefault(
                                                      ::testing::Throw(Exception_server_stopped("server has ended")));
                                          },
                                          "server has ended"},
                      Server_failure_case{"WakeUpSendFails",
                                          [](NiceMock<Mock_client_states>& server)
                                          {
                                              ON_CALL(server, request_state_change(_, _, _, _))
                                                  .WillByDefault(::testing::Throw(std::system_error(
                                                      EPIPE, std::system_category(), "Socket::sendl(...)")));
                                          },
                                          "Socket::sendl(...): Broken pipe"},
                      Server_failure_case{"DefaultStateCannotBeSet",
                                          [](NiceMock<Mock_client_states>& server)
                                          {
                                              ON_CALL(server, set_default_state(_))
                                                  .WillByDefault(::testing::Throw(std::runtime_error("no default")));
                                              ON_CALL(server, request_state_change(_, _, _, _))
                                                  .WillByDefault(::testing::Throw(std::runtime_error("no default")));
                                          },
                                          "no default"}),
    [](const ::testing::TestParamInfo<Server_failure_case>& param) { return std::string{param.param.name}; });

/// The server cannot even be created.
struct Factory_failure_case
{
    const char* name;
    Client_states_factory factory;
    const char* log_text;
};

void PrintTo(const Factory_failure_case& value, std::ostream* out)
{
    *out << value.name;
}

class State_notifier_factory_failure_test : public ::testing::TestWithParam<Factory_failure_case>
{
  protected:
    ara::log::testing::Log_capture m_capture;
};

TEST_P(State_notifier_factory_failure_test, NotifierWithoutServerStillEndsEachSequence)
{
    State_notifier sut(s_app_timeout, s_dm_timeout, GetParam().factory);

    sut.request_standby();
    int checks = 1;
    while (sut.check_request_status() && checks < 10)
    {
        ++checks;
    }

    EXPECT_EQ(checks, 2);
    EXPECT_TRUE(m_capture.contains(GetParam().log_text));
    EXPECT_TRUE(m_capture.contains(
        "Requesting kPrepSD mode for DEM failed, the step ends with error: no state notification server"));
}

INSTANTIATE_TEST_SUITE_P(
    Failures,
    State_notifier_factory_failure_test,
    ::testing::Values(Factory_failure_case{"FactoryThrows",
                                           [](const std::string&, Client_status_callback)
                                               -> std::unique_ptr<client_state_notifier::Client_states>
                                           { throw std::system_error(EMFILE, std::system_category(), "socketpair"); },
                                           "State notification server could not be created: socketpair: Too many open "
                                           "files"},
                      Factory_failure_case{"FactoryGivesNothing",
                                           [](const std::string&, Client_status_callback)
                                           { return std::unique_ptr<client_state_notifier::Client_states>{}; },
                                           "No state notification server: standby and resume steps end with error at "
                                           "once"}),
    [](const ::testing::TestParamInfo<Factory_failure_case>& param) { return std::string{param.param.name}; });

} // namespace
} // namespace vela::ap::statemanager::state_notifier

namespace vela::ap::statemanager::state_notifier
{
namespace
{

using client_state_notifier::Client_outcome;
using client_state_notifier::Client_record;
using client_state_notifier::Request_record;
using status::testing::Mock_round_recorder;
using ::testing::_;
using ::testing::NiceMock;

// The notifier hands each step that steers the sequence, with every client's answer as the server
// recorded it, to the recorder; answers after the deadline follow on their own.
TEST(State_notifier_recorder_test, SteeringStepsReachTheRecorderWithEachClientsAnswer)
{
    ara::log::testing::Log_capture capture;
    auto owned_server = std::make_unique<NiceMock<Mock_client_states>>();
    auto* server = owned_server.get();
    std::vector<Completion_callback> callbacks;
    ON_CALL(*server, request_state_change(_, _, _, _))
        .WillByDefault([&](const std::string&, Filter, Completion_callback callback, const std::chrono::seconds&)
                       { callbacks.push_back(std::move(callback)); });
    const auto recorder = std::make_shared<NiceMock<Mock_round_recorder>>();
    std::vector<status::Step_record> steps;
    ON_CALL(*recorder, step_completed(_))
        .WillByDefault([&](const status::Step_record& step) { steps.push_back(step); });
    State_notifier sut(
        7s,
        3s,
        [&](const std::string&, Client_status_callback) { return std::move(owned_server); },
        utilities::Log_limits{},
        recorder);
    const auto requested = std::chrono::steady_clock::now();

    // the DCM answers in 12 ms
    sut.request_standby();
    const auto dcm = server->last_observer();
    ASSERT_TRUE(dcm);
    dcm->request_completed(
        Request_record{"kPrepSD",
                       Callback_status::success,
                       requested,
                       requested + 12ms,
                       {Client_record{"diag::dcm", Client_outcome::answered, Code::success, "kPrepSD", 12ms}}});
    callbacks.back()(Callback_status::success, Result_map{{"diag::dcm", Code::success}});
    // the applications: one fails, one goes away, one stays silent and answers late
    sut.check_request_status();
    const auto apps = server->last_observer();
    ASSERT_TRUE(apps && apps != dcm);
    apps->request_completed(
        Request_record{"kPrepSD",
                       Callback_status::timeout,
                       requested + 20ms,
                       requested + 7020ms,
                       {Client_record{"failing", Client_outcome::answered, Code::general_error, "kOn", 30ms},
                        Client_record{"leaving", Client_outcome::dropped, Code::timed_out, "", 40ms},
                        Client_record{"late", Client_outcome::timed_out, Code::timed_out, "", 7000ms}}});
    callbacks.back()(Callback_status::timeout, Result_map{{"failing", Code::general_error}, {"late", Code::timed_out}});
    EXPECT_CALL(*recorder, late_answer(2U, "late", 0, "kPrepSD", 7400U));
    apps->late_answer(Client_record{"late", Client_outcome::answered, Code::success, "kPrepSD", 7400ms});
    // an answer to the superseded DCM step steers nothing and is not recorded
    callbacks.front()(Callback_status::success, Result_map{});

    ASSERT_EQ(steps.size(), 2U);
    EXPECT_EQ(steps[0].serial, 1U);
    EXPECT_EQ(steps[0].group, status::Client_group::dcm);
    EXPECT_EQ(steps[0].state, "kPrepSD");
    EXPECT_EQ(steps[0].completed - steps[0].requested, 12ms);
    ASSERT_EQ(steps[0].clients.size(), 1U);
    EXPECT_EQ(steps[0].clients[0].answer, status::Client_answer::state);
    EXPECT_EQ(steps[0].clients[0].answered_state, "kPrepSD");
    EXPECT_EQ(steps[0].clients[0].latency_ms, 12U);
    EXPECT_EQ(steps[1].group, status::Client_group::apps);
    EXPECT_EQ(steps[1].status, 1);
    ASSERT_EQ(steps[1].clients.size(), 3U);
    EXPECT_EQ(steps[1].clients[0].answer, status::Client_answer::error);
    EXPECT_EQ(steps[1].clients[0].code, 1);
    EXPECT_EQ(steps[1].clients[1].answer, status::Client_answer::dropped);
    EXPECT_EQ(steps[1].clients[2].answer, status::Client_answer::timeout);
    EXPECT_EQ(steps[1].clients[2].latency_ms, 7000U);
}

} // namespace
} // namespace vela::ap::statemanager::state_notifier
