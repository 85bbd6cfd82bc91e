#include "ara/log/testing/log_capture.h"
#include "client_state_notifier/client_states.hpp"
#include "client_state_notifier/tests/raw_client.hpp"
#include "testbed/support/temp_dir.hpp"

#include <atomic>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace client_state_notifier
{
namespace
{

using namespace std::chrono_literals;
using testing::everyone;
using testing::Raw_client;
using testing::wait_until;

/// Tells, from inside a callback, whether the server holds its clients lock: get_connected_clients
/// on another thread then has to wait for the callback to return.
class Lock_probe
{
  public:
    Lock_probe() = default;
    Lock_probe(const Lock_probe&) = delete;
    Lock_probe& operator=(const Lock_probe&) = delete;

    /// The probes still waiting get through once the callback has returned.
    ~Lock_probe()
    {
        for (auto& thread : m_threads)
        {
            thread.join();
        }
    }

    void watch(const Client_states& states) { m_states = &states; }

    /// True when a probe has not got through within patience. Called on the server thread.
    bool lock_held(std::chrono::milliseconds patience)
    {
        auto through = std::make_shared<std::promise<void>>();
        auto future = through->get_future();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_threads.emplace_back(
            [states = m_states, through]
            {
                states->get_connected_clients();
                through->set_value();
            });
        return future.wait_for(patience) == std::future_status::timeout;
    }

  private:
    const Client_states* m_states{nullptr};
    std::mutex m_mutex;
    std::vector<std::thread> m_threads;
};

/// Probes the lock in request_completed, as the completion callback does.
class Probing_observer final : public Request_observer
{
  public:
    Probing_observer(Lock_probe& probe, std::chrono::milliseconds patience)
        : m_probe(probe)
        , m_patience(patience)
    {
    }

    void request_completed(const Request_record&) override { held.set_value(m_probe.lock_held(m_patience)); }
    void late_answer(const Client_record&) override {}

    std::promise<bool> held;

  private:
    Lock_probe& m_probe;
    std::chrono::milliseconds m_patience;
};

/// One way a request ends, and whether its callbacks run under the clients lock.
struct Lock_case
{
    const char* name;
    /// Whether the filter selects the connected client.
    bool selects_client;
    std::chrono::seconds timeout;
    /// What the selected client does with the request (id given); nothing when empty.
    std::function<void(Raw_client&, std::uint32_t)> reaction;
    Callback_status status;
    bool lock_held;
};

void PrintTo(const Lock_case& value, std::ostream* out)
{
    *out << value.name;
}

// The state a client names in an answer with an old id to make the status callback throw, which
// ends the server thread.
constexpr const char* s_crash_state = "crash";

class Callback_locks_test : public ::testing::TestWithParam<Lock_case>
{
  protected:
    Server_options options() const
    {
        Server_options result;
        result.socket_path = m_path;
        return result;
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    std::string m_path = m_dir.file("ara_SM.socket");
    std::unique_ptr<Client_states> sut = create_client_states(
        "kOn",
        [](const std::string&, Client_status, const std::string& state)
        {
            if (state == s_crash_state)
            {
                throw std::runtime_error("status handler failed");
            }
        },
        options());
    // Destroyed before sut: its probes end while the server still exists.
    Lock_probe m_probe;
};

TEST_P(Callback_locks_test, CompletionRunsUnderTheClientsLockExceptAtTheDeadline)
{
    const auto& param = GetParam();
    m_probe.watch(*sut);
    Raw_client client(m_path);
    client.send_hello("app", "kOn");
    ASSERT_TRUE(wait_until([&] { return sut->get_connected_clients().size() == 1; }));
    // Long where the probe is expected through, so that a slow probe thread cannot pass for a held lock.
    const auto patience = param.lock_held ? 300ms : 5000ms;
    auto observer = std::make_shared<Probing_observer>(m_probe, patience);
    std::promise<std::pair<Callback_status, bool>> completion;

    sut->request_state_change_observed(
        "kPrepSD",
        [&param](const std::string&) { return param.selects_client; },
        [&](Callback_status status, const Result_map&) {
            completion.set_value({status, m_probe.lock_held(patience)});
        },
        param.timeout,
        observer);
    if (param.selects_client)
    {
        const auto received = client.receive_request();
        ASSERT_TRUE(received);
        if (param.reaction)
        {
            param.reaction(client, received->id);
        }
    }

    auto completed = completion.get_future();
    ASSERT_EQ(completed.wait_for(10s), std::future_status::ready);
    const auto [status, held] = completed.get();
    EXPECT_EQ(status, param.status);
    EXPECT_EQ(held, param.lock_held) << "completion callback";
    auto observed = observer->held.get_future();
    ASSERT_EQ(observed.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(observed.get(), param.lock_held) << "request_completed";
}

INSTANTIATE_TEST_SUITE_P(
    EveryEnding,
    Callback_locks_test,
    ::testing::Values(Lock_case{"NobodySelected", false, 5s, nullptr, Callback_status::success, true},
                      Lock_case{"EveryoneAnswered",
                                true,
                                5s,
                                [](Raw_client& client, std::uint32_t id) { client.answer(id, "kPrepSD", 0); },
                                Callback_status::success,
                                true},
                      Lock_case{"AnswerWithAnError",
                                true,
                                5s,
                                [](Raw_client& client, std::uint32_t id) { client.answer(id, "kOn", 1); },
                                Callback_status::error,
                                true},
                      Lock_case{"LastAwaitedHangsUp",
                                true,
                                5s,
                                [](Raw_client& client, std::uint32_t) { client.close(); },
                                Callback_status::success,
                                true},
                      Lock_case{"ServerThreadEnds",
                                true,
                                5s,
                                [](Raw_client& client, std::uint32_t id) { client.answer(id - 1, s_crash_state, 0); },
                                Callback_status::error,
                                true},
                      Lock_case{"DeadlinePasses", true, 0s, nullptr, Callback_status::timeout, false}),
    [](const ::testing::TestParamInfo<Lock_case>& param_info) { return std::string(param_info.param.name); });

TEST(Client_states_status_callback_test, StatusCallbackRunsUnderTheClientsLock)
{
    tarn1::testing::Temp_dir dir;
    Server_options options;
    options.socket_path = dir.file("ara_SM.socket");
    std::promise<bool> held;
    std::unique_ptr<Client_states> sut;
    Lock_probe probe;
    sut = create_client_states(
        "kOn",
        [&](const std::string&, Client_status, const std::string&) { held.set_value(probe.lock_held(300ms)); },
        options);
    probe.watch(*sut);

    Raw_client first(options.socket_path);
    first.send_hello("app", "kOn");
    ASSERT_TRUE(wait_until([&] { return sut->get_connected_clients().size() == 1; }));
    Raw_client second(options.socket_path);
    second.send_hello("app", "kOn");

    auto reported = held.get_future();
    ASSERT_EQ(reported.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(reported.get());
}

TEST(Client_states_throwing_callback_test, CompletionCallbackThatThrowsIsCalledOnlyOnce)
{
    ara::log::testing::Log_capture capture;
    tarn1::testing::Temp_dir dir;
    Server_options options;
    options.socket_path = dir.file("ara_SM.socket");
    std::atomic<int> calls{0};
    auto sut = create_client_states(
        "kOn", [](const std::string&, Client_status, const std::string&) {}, options);
    Raw_client client(options.socket_path);
    client.send_hello("app", "kOn");
    ASSERT_TRUE(wait_until([&] { return sut->get_connected_clients().size() == 1; }));

    sut->request_state_change(
        "kPrepSD",
        everyone,
        [&calls](Callback_status, const Result_map&)
        {
            ++calls;
            throw std::runtime_error("completion handler failed");
        },
        5s);
    const auto received = client.receive_request();
    ASSERT_TRUE(received);
    client.answer(received->id, "kPrepSD", 0);

    ASSERT_TRUE(capture.wait_for("Client_states_impl thread crashed: completion handler failed", 5s));
    // Joins the server thread, so whatever it was going to call has been called.
    sut.reset();
    EXPECT_EQ(calls, 1);
}

} // namespace
} // namespace client_state_notifier
