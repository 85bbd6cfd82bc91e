// The client of the IAM daemon's socket against a stand-in daemon on a real unix socket, which
// answers each request as the test scripts it.
#include "kest/com/static_thread_pool.h"
#include "platform/com/src/iam_client.hpp"
#include "platform/com/src/io_loop.hpp"
#include "testbed/support/temp_dir.hpp"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace
{

using kest::com::internal::Clock;
using kest::com::internal::Iam_client;
using kest::com::internal::Io_loop;
using vela::iam::Decision;
using namespace std::chrono_literals;

/// How the stand-in daemon treats one request.
enum class Reply
{
    kAllowed,
    kDenied,
    kError,
    /// Keeps it until release() answers it.
    kHold,
    /// Closes the connection without an answer.
    kClose,
    /// Answers something that is no response.
    kGarbage,
};

/// A daemon on a unix socket that reads requests up to their zero byte, as the IAM daemon does,
/// and answers them by the script, one entry per request in arrival order (allowed beyond it).
class Stand_in_daemon
{
  public:
    Stand_in_daemon(std::string path, std::vector<Reply> script)
        : m_path(std::move(path))
        , m_script(std::move(script))
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_path.c_str(), sizeof address.sun_path - 1);
        m_listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(m_listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(m_listener, 16) != 0)
        {
            throw std::runtime_error("cannot listen on " + m_path);
        }
        m_stop = ::eventfd(0, EFD_CLOEXEC);
        m_thread = std::thread([this] { serve(); });
    }
    ~Stand_in_daemon()
    {
        const std::uint64_t one = 1;
        (void)!::write(m_stop, &one, sizeof one);
        m_thread.join();
        for (const int fd : m_connections)
        {
            ::close(fd);
        }
        ::close(m_listener);
        ::close(m_stop);
    }

    /// Every request received, as its text without the zero byte.
    std::vector<std::string> requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    /// Connections accepted so far.
    std::size_t connections() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_accepted;
    }
    /// Receives that held more than one request.
    std::size_t crowded_receives() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_crowded;
    }
    /// Answers the held request with decision, late.
    void release(Decision decision)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_held >= 0)
        {
            answer(m_held, decision);
            m_held = -1;
        }
    }
    bool wait_for_requests(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [&] { return m_requests.size() >= count; });
    }

  private:
    static void answer(int fd, Decision decision)
    {
        const std::string text = vela::iam::encode_response(vela::iam::Check_response{decision});
        (void)!::send(fd, text.c_str(), text.size() + 1, MSG_NOSIGNAL);
    }

    void serve()
    {
        for (;;)
        {
            std::vector<pollfd> watched{{m_stop, POLLIN, 0}, {m_listener, POLLIN, 0}};
            for (const int fd : m_connections)
            {
                watched.push_back({fd, POLLIN, 0});
            }
            if (::poll(watched.data(), watched.size(), -1) <= 0)
            {
                continue;
            }
            if (watched[0].revents != 0)
            {
                return;
            }
            if (watched[1].revents != 0)
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_connections.push_back(::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC));
                ++m_accepted;
            }
            for (std::size_t i = 2; i < watched.size(); ++i)
            {
                if (watched[i].revents != 0)
                {
                    receive(watched[i].fd);
                }
            }
        }
    }

    void receive(int fd)
    {
        char buffer[1024];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        std::lock_guard<std::mutex> lock(m_mutex);
        if (got <= 0)
        {
            m_connections.erase(std::find(m_connections.begin(), m_connections.end(), fd));
            ::close(fd);
            return;
        }
        // One receive is one request, as for the daemon: a second one in it would be lost there.
        const auto requests = std::count(buffer, buffer + got, '\0');
        m_crowded += requests > 1 ? 1 : 0;
        m_requests.emplace_back(buffer, ::strnlen(buffer, static_cast<std::size_t>(got)));
        m_changed.notify_all();
        const Reply reply = m_requests.size() <= m_script.size() ? m_script[m_requests.size() - 1] : Reply::kAllowed;
        switch (reply)
        {
        case Reply::kAllowed:
            answer(fd, Decision::allowed);
            break;
        case Reply::kDenied:
            answer(fd, Decision::denied);
            break;
        case Reply::kError:
            answer(fd, Decision::error);
            break;
        case Reply::kHold:
            m_held = fd;
            break;
        case Reply::kClose:
            m_connections.erase(std::find(m_connections.begin(), m_connections.end(), fd));
            ::close(fd);
            break;
        case Reply::kGarbage:
            (void)!::send(fd, "hello", 6, MSG_NOSIGNAL);
            break;
        }
    }

    std::string m_path;
    std::vector<Reply> m_script;
    int m_listener{-1};
    int m_stop{-1};
    // Guards everything below: met by the serving thread and the test.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<int> m_connections;
    std::vector<std::string> m_requests;
    std::size_t m_accepted{0};
    std::size_t m_crowded{0};
    int m_held{-1};
    std::thread m_thread;
};

/// What one check came to, and on which thread.
struct Outcome
{
    std::optional<Decision> decision;
    std::thread::id thread;
    Clock::time_point at;
};

class Iam_client_test : public ::testing::Test
{
  protected:
    Iam_client_test() { m_pool.set_poller(&m_loop); }
    ~Iam_client_test() override
    {
        sut->stop();
        m_pool.stop();
        m_pool.join();
        m_loop.stop();
    }

    static vela::iam::Check_request_posix request(std::int32_t pid)
    {
        vela::iam::Check_request_posix request;
        request.identifier = {pid, 1000, 1001};
        request.service = {0x153d, 2, vela::iam::Operation::Call_method};
        return request;
    }

    /// Asks with the given timeout; the outcome lands in m_outcomes[index].
    void ask(std::size_t index, std::chrono::milliseconds timeout = 2000ms)
    {
        sut->check(request(static_cast<std::int32_t>(100 + index)),
                   Clock::now() + timeout,
                   [this, index](std::optional<Decision> decision)
                   {
                       std::lock_guard<std::mutex> lock(m_mutex);
                       m_outcomes[index] = Outcome{decision, std::this_thread::get_id(), Clock::now()};
                       m_changed.notify_all();
                   });
    }

    std::optional<Outcome> wait_for(std::size_t index)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, 5s, [&] { return m_outcomes.count(index) != 0; });
        const auto found = m_outcomes.find(index);
        return found == m_outcomes.end() ? std::nullopt : std::optional<Outcome>(found->second);
    }

    tarn1::testing::Temp_dir m_dir;
    const std::string m_socket = m_dir.file("iam");
    Io_loop m_loop;
    kest::com::static_thread_pool m_pool{2};
    std::shared_ptr<Iam_client> sut = std::make_shared<Iam_client>(m_loop, m_socket);
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<std::size_t, Outcome> m_outcomes;
};

TEST_F(Iam_client_test, ChecksAskedTogetherAreSentOneAtATimeAndAnsweredInOrder)
{
    Stand_in_daemon daemon(m_socket, {Reply::kAllowed, Reply::kDenied, Reply::kError});

    ask(0);
    ask(1);
    ask(2);
    const auto first = wait_for(0);
    const auto second = wait_for(1);
    const auto third = wait_for(2);

    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(first->decision, Decision::allowed);
    EXPECT_EQ(second->decision, Decision::denied);
    EXPECT_EQ(third->decision, Decision::error);
    EXPECT_EQ(daemon.crowded_receives(), 0U);
    EXPECT_EQ(daemon.connections(), 1U);
    const auto requests = daemon.requests();
    ASSERT_EQ(requests.size(), 3U);
    for (std::size_t i = 0; i < requests.size(); ++i)
    {
        const auto decoded = vela::iam::decode_request(requests[i]);
        const auto* posix =
            dynamic_cast<const vela::iam::Check_requestT<vela::iam::Check_request_posix>*>(decoded.get());
        ASSERT_NE(posix, nullptr) << requests[i];
        EXPECT_EQ(posix->wrapped().identifier.pid, static_cast<std::int32_t>(100 + i));
        EXPECT_EQ(posix->wrapped().identifier.uid, 1000U);
        EXPECT_EQ(posix->wrapped().identifier.gid, 1001U);
        EXPECT_EQ(posix->wrapped().service.service_id, 0x153dU);
        EXPECT_EQ(posix->wrapped().service.member_id, 2U);
        EXPECT_EQ(posix->wrapped().service.operation, vela::iam::Operation::Call_method);
    }
}

TEST_F(Iam_client_test, AbsentDaemonGivesNoDecisionAtOnceOnAnotherThread)
{
    const auto asked = Clock::now();

    ask(0);
    const auto outcome = wait_for(0);

    ASSERT_TRUE(outcome.has_value());
    EXPECT_FALSE(outcome->decision.has_value());
    EXPECT_NE(outcome->thread, std::this_thread::get_id());
    EXPECT_LT(outcome->at - asked, 1s);
}

TEST_F(Iam_client_test, SilentDaemonGivesNoDecisionAtTheDeadlineAndItsLateAnswerIsNotTakenForTheNext)
{
    Stand_in_daemon daemon(m_socket, {Reply::kHold, Reply::kDenied});
    const auto asked = Clock::now();

    ask(0, 150ms);
    const auto late = wait_for(0);
    ASSERT_TRUE(daemon.wait_for_requests(1));
    daemon.release(Decision::allowed);
    ask(1);
    const auto next = wait_for(1);

    ASSERT_TRUE(late && next);
    EXPECT_FALSE(late->decision.has_value());
    EXPECT_GE(late->at - asked, 150ms);
    EXPECT_EQ(next->decision, Decision::denied);
    EXPECT_EQ(daemon.connections(), 2U);
}

TEST_F(Iam_client_test, ConnectionLostBeforeTheAnswerIsAskedOnceMoreOnANewOne)
{
    Stand_in_daemon daemon(m_socket, {Reply::kClose, Reply::kDenied});

    ask(0);
    const auto outcome = wait_for(0);

    ASSERT_TRUE(outcome.has_value());
    EXPECT_EQ(outcome->decision, Decision::denied);
    EXPECT_EQ(daemon.connections(), 2U);
}

TEST_F(Iam_client_test, AnswerThatIsNoResponseGivesNoDecisionAndANewConnection)
{
    Stand_in_daemon daemon(m_socket, {Reply::kGarbage, Reply::kAllowed});

    ask(0);
    const auto garbled = wait_for(0);
    ask(1);
    const auto next = wait_for(1);

    ASSERT_TRUE(garbled && next);
    EXPECT_FALSE(garbled->decision.has_value());
    EXPECT_EQ(next->decision, Decision::allowed);
    EXPECT_EQ(daemon.connections(), 2U);
}

struct Waiting_case
{
    const char* name;
    /// The stand-in's answer; none: no daemon at all.
    std::optional<Reply> reply;
    std::optional<Decision> decision;
};

void PrintTo(const Waiting_case& param, std::ostream* out)
{
    *out << param.name;
}

class Iam_client_waiting_test : public Iam_client_test, public ::testing::WithParamInterface<Waiting_case>
{
};

TEST_P(Iam_client_waiting_test, CheckNowWaitsAtMostItsTimeout)
{
    std::optional<Stand_in_daemon> daemon;
    if (GetParam().reply)
    {
        daemon.emplace(m_socket, std::vector<Reply>{*GetParam().reply});
    }
    const auto asked = Clock::now();

    const auto decision = sut->check_now(request(7), 150ms);
    const auto waited = Clock::now() - asked;

    EXPECT_EQ(decision, GetParam().decision);
    EXPECT_LT(waited, 1s);
    if (GetParam().reply == Reply::kHold)
    {
        EXPECT_GE(waited, 150ms);
    }
}

INSTANTIATE_TEST_SUITE_P(Iam_client_waiting_test,
                         Iam_client_waiting_test,
                         ::testing::Values(Waiting_case{"Allowed", Reply::kAllowed, Decision::allowed},
                                           Waiting_case{"Denied", Reply::kDenied, Decision::denied},
                                           Waiting_case{"Silent", Reply::kHold, std::nullopt},
                                           Waiting_case{"Absent", std::nullopt, std::nullopt}),
                         [](const ::testing::TestParamInfo<Waiting_case>& param) { return param.param.name; });

} // namespace
