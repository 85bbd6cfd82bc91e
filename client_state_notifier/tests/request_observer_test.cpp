#include "ara/log/testing/log_capture.h"
#include "client_state_notifier/client_states.hpp"
#include "client_state_notifier/tests/raw_client.hpp"
#include "testbed/support/temp_dir.hpp"

#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>

namespace client_state_notifier
{
namespace
{

using namespace std::chrono_literals;
using testing::Callback_recorder;
using testing::everyone;
using testing::Raw_client;
using testing::wait_until;

using Code = Component_client_return_type;

/// Keeps what the server tells it (server thread) for the test thread; on_completed runs inside
/// request_completed, where the test checks what has happened by then.
class Recording_observer final : public Request_observer
{
  public:
    std::function<void()> on_completed;

    void request_completed(const Request_record& record) override
    {
        if (on_completed)
        {
            on_completed();
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_records.push_back(record);
        m_changed.notify_all();
    }

    void late_answer(const Client_record& record) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_late.push_back(record);
        m_changed.notify_all();
    }

    std::optional<Request_record> wait_record(std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, timeout, [this] { return !m_records.empty(); }))
        {
            return std::nullopt;
        }
        return m_records.front();
    }

    std::optional<Client_record> wait_late(std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_changed.wait_for(lock, timeout, [this] { return !m_late.empty(); }))
        {
            return std::nullopt;
        }
        return m_late.front();
    }

    std::size_t late_count() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_late.size();
    }

  private:
    // Guards the records: the server thread adds, the test thread reads.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Request_record> m_records;
    std::vector<Client_record> m_late;
};

const Client_record* find(const Request_record& record, const std::string& name)
{
    for (const auto& client : record.clients)
    {
        if (client.name == name)
        {
            return &client;
        }
    }
    return nullptr;
}

class Request_observer_test : public ::testing::Test
{
  protected:
    std::unique_ptr<Raw_client> connect(const std::string& name)
    {
        auto client = std::make_unique<Raw_client>(m_path);
        client->send_hello(name, "kOn");
        const auto before = m_count++;
        EXPECT_TRUE(wait_until([&] { return sut->get_connected_clients().size() > before; }));
        return client;
    }

    void request(const std::string& state, std::chrono::seconds timeout)
    {
        sut->request_state_change_observed(state, everyone, m_recorder.completion_callback(), timeout, m_observer);
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::string m_path = m_dir.file("ara_SM.socket");
    Callback_recorder m_recorder;
    std::shared_ptr<Recording_observer> m_observer = std::make_shared<Recording_observer>();
    std::size_t m_count{0};
    std::unique_ptr<Client_states> sut = [this]
    {
        Server_options options;
        options.socket_path = m_path;
        return create_client_states("kOn", m_recorder.status_callback(), options);
    }();
};

TEST_F(Request_observer_test, EveryKindOfAnswerIsRecordedWithItsLatencyBeforeTheCompletion)
{
    auto on_time = connect("on_time");
    auto failing = connect("failing");
    auto silent = connect("silent");
    auto late = connect("late");
    auto leaving = connect("leaving");
    std::optional<std::size_t> completions_seen_by_observer;
    m_observer->on_completed = [&] { completions_seen_by_observer = m_recorder.completions().size(); };
    request("kPrepSD", 1s);
    const auto on_time_request = on_time->receive_request();
    const auto failing_request = failing->receive_request();
    ASSERT_TRUE(on_time_request && failing_request && silent->receive_request() && late->receive_request() &&
                leaving->receive_request());

    // answers, an error, a hang-up; two stay silent until the deadline
    on_time->answer(on_time_request->id, "kPrepSD", 0);
    failing->answer(failing_request->id, "kOn", 1);
    leaving->close();

    const auto record = m_observer->wait_record();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->state, "kPrepSD");
    EXPECT_EQ(record->status, Callback_status::timeout);
    EXPECT_EQ(completions_seen_by_observer, std::optional<std::size_t>(0));
    ASSERT_EQ(record->clients.size(), 5U);
    const auto* answered = find(*record, "on_time");
    const auto* error = find(*record, "failing");
    const auto* quiet = find(*record, "silent");
    const auto* gone = find(*record, "leaving");
    ASSERT_TRUE(answered && error && quiet && gone && find(*record, "late"));
    EXPECT_EQ(answered->outcome, Client_outcome::answered);
    EXPECT_EQ(answered->code, Code::success);
    EXPECT_EQ(answered->state, "kPrepSD");
    EXPECT_LT(answered->latency, 1000ms);
    EXPECT_EQ(error->outcome, Client_outcome::answered);
    EXPECT_EQ(error->code, Code::general_error);
    EXPECT_EQ(error->state, "kOn");
    EXPECT_EQ(quiet->outcome, Client_outcome::timed_out);
    EXPECT_GE(quiet->latency, 1000ms);
    EXPECT_EQ(find(*record, "late")->outcome, Client_outcome::timed_out);
    EXPECT_EQ(gone->outcome, Client_outcome::dropped);
    EXPECT_LT(gone->latency, 1000ms);
    EXPECT_GE(record->completed - record->requested, 1000ms);
    ASSERT_TRUE(m_recorder.wait_completion());
}

TEST_F(Request_observer_test, AnswerAfterTheDeadlineIsReportedOnceAsLate)
{
    auto late = connect("late");
    auto silent = connect("silent");
    request("kPrepSD", 0s);
    const auto late_request = late->receive_request();
    ASSERT_TRUE(late_request && silent->receive_request());
    ASSERT_TRUE(m_observer->wait_record());

    late->answer(late_request->id, "kPrepSD", 0);
    late->answer(late_request->id, "kPrepSD", 0);

    const auto answer = m_observer->wait_late();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->name, "late");
    EXPECT_EQ(answer->outcome, Client_outcome::answered);
    EXPECT_EQ(answer->code, Code::success);
    EXPECT_EQ(answer->state, "kPrepSD");
    // the second answer is no news
    EXPECT_FALSE(wait_until([&] { return m_observer->late_count() > 1; }, 100ms));
}

TEST_F(Request_observer_test, AnswerToATimedOutRequestAfterANewOneIsNotLate)
{
    auto client = connect("app");
    request("kPrepSD", 0s);
    const auto first = client->receive_request();
    ASSERT_TRUE(first && m_observer->wait_record() && m_recorder.wait_completion());
    sut->request_state_change("kOn", everyone, m_recorder.completion_callback(), 5s);
    const auto second = client->receive_request();
    ASSERT_TRUE(second);

    client->answer(first->id, "kPrepSD", 0);

    ASSERT_TRUE(m_recorder.wait_status_events(1));
    EXPECT_EQ(m_observer->late_count(), 0U);
}

TEST_F(Request_observer_test, RequestReachingNobodyIsRecordedWithoutClients)
{
    request("kPrepSD", 1s);

    const auto record = m_observer->wait_record();

    ASSERT_TRUE(record);
    EXPECT_EQ(record->status, Callback_status::success);
    EXPECT_TRUE(record->clients.empty());
}

} // namespace
} // namespace client_state_notifier
