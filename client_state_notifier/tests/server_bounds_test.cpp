// What a flood of connecting, trickling and misbehaving peers can make the server do: every
// round takes the state notifier's request first and a bounded number of new connections, the
// connections waiting for their hello and the registered clients are bounded, and the lines
// such peers cause are logged a bounded number of times.

#include "ara/log/testing/log_capture.h"
#include "client_state_notifier/client_states.hpp"
#include "client_state_notifier/tests/raw_client.hpp"
#include "testbed/support/temp_dir.hpp"
#include "testbed/support/uid_process.hpp"

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace client_state_notifier
{
namespace
{

using namespace std::chrono_literals;
using testing::Callback_recorder;
using testing::held_back_count;
using testing::Raw_client;
using testing::wait_until;
using utilities::Bytes;

using Code = Component_client_return_type;

bool nobody(const std::string&)
{
    return false;
}

Bytes hello_bytes(const std::string& name)
{
    return utilities::serialize(utilities::Elements{utilities::Type_length_value(utilities::get_protocol_version_one()),
                                                    utilities::Type_length_value(name),
                                                    utilities::Type_length_value(std::string("kOn"))});
}

/// A completion callback that holds the server thread until the test opens it.
class Gate
{
  public:
    Completion_callback callback()
    {
        return [this](Callback_status, const Result_map&)
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_entered = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_open; });
        };
    }

    bool wait_entered()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [this] { return m_entered; });
    }

    void open()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

  private:
    // Guards the flags: the server thread waits in the callback, the test thread opens.
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_entered{false};
    bool m_open{false};
};

class Server_bounds_test : public ::testing::Test
{
  protected:
    Server_bounds_test()
    {
        m_options.socket_path = m_dir.file("ara_SM.socket");
        // long enough that no connection of a test is closed for its silence
        m_options.hello_timeout = 10s;
        // one interval for the whole test, so that the counts do not depend on its speed
        m_options.log_limits.interval = std::chrono::hours(1);
    }

    void start() { sut = create_client_states("kOn", m_recorder.status_callback(), m_options); }

    /// A client whose hello the server has registered.
    std::unique_ptr<Raw_client> connect(const std::string& name)
    {
        auto client = std::make_unique<Raw_client>(m_options.socket_path);
        client->send_hello(name, "kOn");
        EXPECT_TRUE(registered(name)) << name;
        return client;
    }

    bool registered(const std::string& name)
    {
        return wait_until(
            [&]
            {
                const auto clients = sut->get_connected_clients();
                return std::any_of(
                    clients.begin(), clients.end(), [&](const auto& entry) { return entry.first == name; });
            });
    }

    /// Connected, silent: waits for its hello.
    std::unique_ptr<Raw_client> silent() { return std::make_unique<Raw_client>(m_options.socket_path); }

    std::size_t lines_with(const std::string& fragment) const
    {
        const auto texts = m_capture.texts();
        return static_cast<std::size_t>(std::count_if(texts.begin(),
                                                      texts.end(),
                                                      [&](const std::string& text)
                                                      { return text.find(fragment) != std::string::npos; }));
    }

    ara::log::testing::Log_capture m_capture;
    tarn1::testing::Temp_dir m_dir;
    Server_options m_options;
    Callback_recorder m_recorder;
    std::unique_ptr<Client_states> sut;
};

TEST_F(Server_bounds_test, RequestIsTakenBeforeTheHellosAndConnectionsThatArriveWithIt)
{
    start();
    auto original = connect("dup");
    std::vector<std::unique_ptr<Raw_client>> waiting;
    for (int index = 0; index < 40; ++index)
    {
        waiting.push_back(silent());
    }
    // accepted after the silent ones, so every one of them is waiting for its hello now
    auto marker = connect("marker");
    Gate gate;
    sut->request_state_change("kOn", nobody, gate.callback(), 5s);
    ASSERT_TRUE(gate.wait_entered());

    // while the server is held: 40 hellos complete, 8 connections queue, a request comes
    for (auto& client : waiting)
    {
        client->send_hello("dup", "kOn");
    }
    std::vector<std::unique_ptr<Raw_client>> queued;
    for (int index = 0; index < 8; ++index)
    {
        queued.push_back(silent());
        queued.back()->send_hello("dup", "kOn");
    }
    std::atomic<std::size_t> registered_before{SIZE_MAX};
    std::atomic<bool> completed{false};
    sut->request_state_change(
        "kOn",
        nobody,
        [&](Callback_status, const Result_map&)
        {
            registered_before = m_recorder.status_events().size();
            completed = true;
        },
        5s);
    gate.open();

    ASSERT_TRUE(wait_until([&] { return completed.load(); }));
    // each registration under the name "dup" is reported as a duplicate
    ASSERT_TRUE(m_recorder.wait_status_events(48));
    EXPECT_EQ(registered_before.load(), 0U);
}

TEST_F(Server_bounds_test, OneRoundTakesAtMostTheBoundOfNewConnections)
{
    m_options.max_accepts_per_round = 2;
    start();
    auto original = connect("dup");
    Gate gate;
    sut->request_state_change("kOn", nobody, gate.callback(), 5s);
    ASSERT_TRUE(gate.wait_entered());
    std::vector<std::unique_ptr<Raw_client>> queued;
    for (int index = 0; index < 8; ++index)
    {
        queued.push_back(silent());
        queued.back()->send_hello("dup", "kOn");
    }
    // each completion notes how many connections were registered by then and asks again, so
    // that every following round starts with a request
    std::mutex mutex;
    std::vector<std::size_t> counts;
    std::function<void()> ask = [&]
    {
        sut->request_state_change(
            "kOn",
            nobody,
            [&](Callback_status, const Result_map&)
            {
                std::lock_guard<std::mutex> lock(mutex);
                counts.push_back(m_recorder.status_events().size());
                if (counts.size() < 6)
                {
                    ask();
                }
            },
            5s);
    };
    ask();

    gate.open();

    ASSERT_TRUE(wait_until(
        [&]
        {
            std::lock_guard<std::mutex> lock(mutex);
            return counts.size() == 6;
        }));
    EXPECT_THAT(counts, ::testing::ElementsAre(0U, 2U, 4U, 6U, 8U, 8U));
}

TEST_F(Server_bounds_test, OneConnectionTooManyWaitingForItsHelloClosesTheOldest)
{
    m_options.max_waiting_for_hello = 4;
    start();
    std::vector<std::unique_ptr<Raw_client>> waiting;
    for (int index = 0; index < 4; ++index)
    {
        waiting.push_back(silent());
    }
    auto marker = connect("marker");

    auto fifth = silent();

    EXPECT_TRUE(waiting[0]->closed_by_server(2s));
    EXPECT_TRUE(wait_until(
        [&] { return lines_with("closing the oldest connection waiting for its hello: more than 4 wait") == 1; }));
    // a client whose hello is there when its connection is taken takes nobody's place
    Gate gate;
    sut->request_state_change("kOn", nobody, gate.callback(), 5s);
    ASSERT_TRUE(gate.wait_entered());
    auto complete = silent();
    complete->send_hello("complete", "kOn");
    gate.open();
    ASSERT_TRUE(registered("complete"));
    for (std::size_t index = 1; index < waiting.size(); ++index)
    {
        EXPECT_FALSE(waiting[index]->closed_by_server(20ms)) << index;
    }
    EXPECT_FALSE(fifth->closed_by_server(20ms));
    // and the ones still waiting can say hello
    waiting[1]->send_hello("late", "kOn");
    EXPECT_TRUE(registered("late"));
}

TEST_F(Server_bounds_test, ConnectionsBeyondTheClientBoundAreClosedAtOnceAndLoggedBoundedly)
{
    m_options.max_clients = 2;
    start();
    auto first = connect("first");
    auto second = connect("second");

    for (int index = 0; index < 12; ++index)
    {
        auto refused = silent();
        EXPECT_TRUE(refused->closed_by_server(2s)) << index;
    }

    EXPECT_EQ(lines_with("refusing connection of pid " + std::to_string(::getpid()) + ": 2 clients are connected"),
              m_options.log_limits.per_peer);
    first->close();
    ASSERT_TRUE(m_capture.wait_for("client disconnected: first", 2s));
    auto third = connect("third");
    EXPECT_TRUE(third);
}

TEST_F(Server_bounds_test, ClientsOfOneUserBeyondItsBoundAreClosedWhileRootStillRegisters)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "needs root to connect as another user";
    }
    m_options.max_clients = 8;
    m_options.max_clients_per_uid = 4;
    start();
    // the user may reach the socket
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0755), 0);
    ASSERT_TRUE(wait_until([&] { return ::chmod(m_options.socket_path.c_str(), 0666) == 0; }));
    std::vector<Bytes> hellos;
    for (int index = 0; index < 8; ++index)
    {
        hellos.push_back(hello_bytes("user_" + std::to_string(index)));
    }

    // another user's process registers as many clients as the server takes in all
    const char* const path = m_options.socket_path.c_str();
    tarn1::testing::Uid_process user(60001,
                                     [&](int report)
                                     {
                                         char connected = 0;
                                         for (const auto& hello : hellos)
                                         {
                                             const int socket = tarn1::testing::connect_unix(path);
                                             connected += socket >= 0 ? 1 : 0;
                                             // refused ones may be closed before their hello is sent
                                             tarn1::testing::send_all(socket, hello.data(), hello.size());
                                         }
                                         (void)!::write(report, &connected, 1);
                                     });
    char connected = 0;
    ASSERT_TRUE(user.read_report(&connected, 1, 5s));
    // taken after every connection of the user, so those are all handled by then
    auto root_app = connect("root_app");

    const auto clients = sut->get_connected_clients();
    EXPECT_EQ(connected, 8);
    EXPECT_EQ(std::count_if(clients.begin(),
                            clients.end(),
                            [](const auto& client) { return client.first.rfind("user_", 0) == 0; }),
              4);
    EXPECT_GE(lines_with("uid 60001 has 4 clients connected"), 1U);
}

TEST_F(Server_bounds_test, HelloIsLoggedWithTheCredentialsOfTheConnectingProcess)
{
    start();

    auto client = connect("app");

    const auto expected = "client credentials: name = app, pid = " + std::to_string(::getpid()) +
                          ", uid = " + std::to_string(::getuid()) + ", gid = " + std::to_string(::getgid());
    EXPECT_TRUE(m_capture.wait_for(expected, 2s));
    EXPECT_EQ(m_capture.count(expected, ara::log::LogLevel::kDebug), 1U);
}

/// One misbehaviour that a peer repeats, and the log text it causes.
struct Repeated_case
{
    const char* name;
    std::function<void(Raw_client&)> act;
    std::vector<std::string> fragments;
};

void PrintTo(const Repeated_case& value, std::ostream* out)
{
    *out << value.name;
}

class Server_repeated_log_test : public Server_bounds_test, public ::testing::WithParamInterface<Repeated_case>
{
  protected:
    /// The peer repeats the misbehaviour; a client registered afterwards shows that the server
    /// has handled every repetition (each came, and was closed, before it connected).
    void repeat(std::size_t times)
    {
        for (std::size_t index = 0; index < times; ++index)
        {
            auto client = silent();
            GetParam().act(*client);
        }
        auto marker = connect("marker_" + std::to_string(m_markers++));
    }

    std::size_t m_markers{0};
};

TEST_P(Server_repeated_log_test, SamePeerRepeatingItIsLoggedOnlyUpToItsBurst)
{
    start();

    repeat(20);

    for (const auto& fragment : GetParam().fragments)
    {
        EXPECT_EQ(lines_with(fragment), m_options.log_limits.per_peer) << fragment;
    }
}

TEST_P(Server_repeated_log_test, FirstLineAfterTheIntervalSaysHowManyWereHeldBack)
{
    m_options.log_limits.interval = 300ms;
    start();
    repeat(20);
    const auto repeated = std::chrono::steady_clock::now();
    ASSERT_TRUE(
        wait_until([&] { return std::chrono::steady_clock::now() >= repeated + m_options.log_limits.interval; }));

    repeat(1);

    // every repetition is either written or counted in a later line: nothing goes unmentioned
    for (const auto& fragment : GetParam().fragments)
    {
        std::size_t accounted = 0;
        std::string last;
        const auto all_accounted = wait_until(
            [&]
            {
                accounted = 0;
                for (const auto& text : m_capture.texts())
                {
                    if (text.find(fragment) != std::string::npos)
                    {
                        accounted += 1 + held_back_count(text);
                        last = text;
                    }
                }
                return accounted == 21;
            });
        EXPECT_TRUE(all_accounted) << fragment << ": " << accounted;
        EXPECT_GT(held_back_count(last), 0U) << last;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Misbehaviours,
    Server_repeated_log_test,
    ::testing::Values(Repeated_case{"ClosedBeforeItsHello",
                                    [](Raw_client& client) { client.close(); },
                                    {"connection closed before its hello was complete"}},
                      Repeated_case{"HelloWithTooFewElements",
                                    [](Raw_client& client)
                                    {
                                        client.send_bytes(utilities::serialize(utilities::Elements{
                                            utilities::Type_length_value(utilities::get_protocol_version_one()),
                                            utilities::Type_length_value(std::string("bad"))}));
                                        EXPECT_TRUE(client.closed_by_server(2s));
                                    },
                                    {"closing connection with a bad hello: hello message with 2 elements"}},
                      Repeated_case{"ConnectsAndLeavesUnderOneName",
                                    [](Raw_client& client)
                                    {
                                        client.send_hello("app", "kOn");
                                        client.close();
                                    },
                                    {"client connected: name = app, current state = kOn", "client disconnected: app"}},
                      Repeated_case{"BreaksTheProtocolAfterItsHello",
                                    [](Raw_client& client)
                                    {
                                        auto bytes = hello_bytes("app");
                                        utilities::append_uint32(bytes, 2);
                                        utilities::append_uint64(bytes, 1ULL << 40);
                                        client.send_bytes(bytes);
                                        EXPECT_TRUE(client.closed_by_server(2s));
                                    },
                                    // read together with the hello, so it counts as part of a bad hello
                                    {"client app: closing connection with a bad hello: frame length 1099511627776"}}),
    [](const ::testing::TestParamInfo<Repeated_case>& param_info) { return std::string(param_info.param.name); });

/// Connects as fast as it can without ever saying hello, keeping the last connections open.
class Connection_flood
{
  public:
    explicit Connection_flood(const std::string& path)
        : m_address(utilities::create_unix_address(path))
        , m_thread([this] { run(); })
    {
    }

    ~Connection_flood()
    {
        m_stop = true;
        m_thread.join();
    }

    Connection_flood(const Connection_flood&) = delete;
    Connection_flood& operator=(const Connection_flood&) = delete;

    std::size_t connections() const { return m_connections; }

  private:
    void run()
    {
        std::deque<utilities::Socket> open;
        while (!m_stop)
        {
            utilities::Socket socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
            if (::connect(socket.get_fd(), reinterpret_cast<const sockaddr*>(&m_address), sizeof(m_address)) != 0)
            {
                // the backlog is full: the server is behind, which is the point
                std::this_thread::yield();
                continue;
            }
            ++m_connections;
            open.push_back(std::move(socket));
            if (open.size() > 50)
            {
                open.pop_front();
            }
        }
    }

    sockaddr_un m_address;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_connections{0};
    std::thread m_thread;
};

/// Keeps connections that send their hello one byte at a time, opening new ones as the server
/// registers or closes the old.
class Hello_tricklers
{
  public:
    Hello_tricklers(const std::string& path, std::size_t count)
        : m_path(path)
        , m_count(count)
        , m_thread([this] { run(); })
    {
    }

    ~Hello_tricklers()
    {
        m_stop = true;
        m_thread.join();
    }

    Hello_tricklers(const Hello_tricklers&) = delete;
    Hello_tricklers& operator=(const Hello_tricklers&) = delete;

  private:
    struct Trickler
    {
        utilities::Socket socket;
        Bytes hello;
        std::size_t sent{0};
    };

    void run()
    {
        const auto address = utilities::create_unix_address(m_path);
        std::vector<Trickler> tricklers;
        std::size_t serial = 0;
        while (!m_stop)
        {
            while (tricklers.size() < m_count)
            {
                Trickler trickler{utilities::Socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0),
                                  hello_bytes("trickler_" + std::to_string(serial++))};
                if (::connect(trickler.socket.get_fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) !=
                    0)
                {
                    break;
                }
                tricklers.push_back(std::move(trickler));
            }
            for (auto& trickler : tricklers)
            {
                if (::send(trickler.socket.get_fd(), &trickler.hello[trickler.sent], 1, MSG_NOSIGNAL | MSG_DONTWAIT) ==
                    1)
                {
                    ++trickler.sent;
                }
                else
                {
                    // closed by the server: start over on a new connection
                    trickler.sent = trickler.hello.size();
                }
            }
            tricklers.erase(std::remove_if(tricklers.begin(),
                                           tricklers.end(),
                                           [](const Trickler& trickler)
                                           { return trickler.sent == trickler.hello.size(); }),
                            tricklers.end());
            std::this_thread::sleep_for(2ms);
        }
    }

    std::string m_path;
    std::size_t m_count;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

/// Answers every request with success on its own thread.
class Answering_client
{
  public:
    explicit Answering_client(std::unique_ptr<Raw_client> client)
        : m_client(std::move(client))
        , m_thread([this] { run(); })
    {
    }

    ~Answering_client()
    {
        m_stop = true;
        m_thread.join();
    }

    Answering_client(const Answering_client&) = delete;
    Answering_client& operator=(const Answering_client&) = delete;

  private:
    void run()
    {
        while (!m_stop)
        {
            if (const auto request = m_client->receive_request(20ms))
            {
                m_client->answer(request->id, request->state, 0);
            }
        }
    }

    std::unique_ptr<Raw_client> m_client;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST_F(Server_bounds_test, RoundsCompleteWithinTheirDeadlineDuringAFloodOfConnectionsAndTricklers)
{
    m_options.hello_timeout = 500ms;
    m_options.log_limits = utilities::Log_limits{};
    start();
    Answering_client app_a(connect("app_a"));
    Answering_client app_b(connect("app_b"));
    const auto apps = [](const std::string& name) { return name.rfind("app_", 0) == 0; };
    Connection_flood flood_a(m_options.socket_path);
    Connection_flood flood_b(m_options.socket_path);
    Hello_tricklers tricklers(m_options.socket_path, 100);
    ASSERT_TRUE(wait_until([&] { return flood_a.connections() + flood_b.connections() > 200; }));

    for (int round = 0; round < 6; ++round)
    {
        const auto started = std::chrono::steady_clock::now();
        sut->request_state_change((round % 2 == 0) ? "kPrepSD" : "kOn", apps, m_recorder.completion_callback(), 2s);

        const auto completion = m_recorder.wait_completion(5s);

        ASSERT_TRUE(completion) << round;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s) << round;
        EXPECT_EQ(completion->status, Callback_status::success) << round;
        EXPECT_THAT(
            completion->results,
            ::testing::ElementsAre(::testing::Pair("app_a", Code::success), ::testing::Pair("app_b", Code::success)));
    }
}

} // namespace
} // namespace client_state_notifier
