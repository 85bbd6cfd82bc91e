// Peers that misbehave on purpose or by accident: what they can make a process hold stays bounded,
// what they can make it log is rate-limited, and the other peers are still served.
#include "ara/log/testing/log_capture.h"
#include "kest/com/cpp_binding/proxy_event.h"
#include "kest/com/cpp_binding/rport.h"
#include "platform/com/src/connection.hpp"
#include "platform/com/src/pport_core.hpp"
#include "platform/com/tests/local_service.hpp"
#include "platform/com/tests/peer_process.hpp"
#include "platform/com/tests/raw_client.hpp"

#include <atomic>
#include <condition_variable>
#include <dirent.h>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

using kest::com::cpp_binding::Rport;
using kest::com::internal::Connection;
using kest::com::someip::Message_type;
using tarn1::testing::EchoInterface;
using tarn1::testing::eventually;
using tarn1::testing::Raw_client;
using vela::com::runtime::Serialized_payload;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

class Hostile_peer_test : public tarn1::testing::Local_service_test
{
  protected:
    /// The provider's side of the only connection it has, once it is there.
    std::shared_ptr<Connection> only_connection()
    {
        std::shared_ptr<Connection> found;
        eventually(
            [&]
            {
                const auto connections = sut->connections();
                found = connections.size() == 1 ? connections.front() : nullptr;
                return found != nullptr;
            },
            s_deadline);
        return found;
    }

    ara::log::testing::Log_capture m_log;
};

TEST_F(Hostile_peer_test, UndecodableNotificationIsLoggedOnceAndDeliversNoSample)
{
    Rport port(m_handle, EchoInterface::description());
    kest::com::cpp_binding::Proxy_event<Bytes> level(port, 0);
    std::mutex mutex;
    std::vector<Bytes> delivered;
    level.SetReceiveHandler(
        [&]
        {
            std::lock_guard<std::mutex> lock(mutex);
            level.Update();
            delivered = level.GetCachedSamples();
        });
    level.Subscribe(8);
    ASSERT_TRUE(eventually(
        [&]
        {
            std::lock_guard<std::mutex> lock(mutex);
            return delivered.size() == 1;
        },
        s_deadline));

    // the length field claims 9 bytes, 1 follows; twice within the second, then a good value
    sut->set_level_payload({0, 0, 0, 9, 1});
    sut->set_level_payload({0, 0, 0, 9, 1});
    sut->set_level_payload({0, 0, 0, 1, 7});

    ASSERT_TRUE(eventually(
        [&]
        {
            std::lock_guard<std::mutex> lock(mutex);
            return delivered.size() == 2;
        },
        s_deadline));
    level.UnsetReceiveHandler();
    EXPECT_EQ(delivered, (std::vector<Bytes>{{0}, {7}}));
    EXPECT_EQ(level.undecodable_samples(), 2U);
    EXPECT_EQ(m_log.count("com: dropping an undecodable notification of tarn1::test::Echo instance local event 0: "
                          "5 payload bytes",
                          ara::log::LogLevel::kWarn),
              1U);
    EXPECT_FALSE(m_log.contains_fragment("similar messages suppressed"));
}

TEST_F(Hostile_peer_test, TrickledLargeFrameGrowsTheInputBufferOnce)
{
    Raw_client peer(m_handle.endpoint);
    const Bytes frame = Raw_client::request(0, 1, Bytes(std::size_t{512} * 1024, 0x5a));
    const auto connection = only_connection();
    ASSERT_NE(connection, nullptr);
    const std::size_t head = kest::com::someip::kHeader_size + 1000;
    ASSERT_TRUE(peer.send_all(Bytes(frame.begin(), frame.begin() + head), s_deadline));
    ASSERT_TRUE(eventually([&] { return connection->input_state().buffered == head; }, s_deadline));

    // a byte at a time, each read by the provider before the next is sent
    for (std::size_t sent = head; sent < head + 200; ++sent)
    {
        ASSERT_EQ(peer.send_some(frame.data() + sent, 1), 1U);
        ASSERT_TRUE(eventually([&] { return connection->input_state().buffered == sent + 1; }, s_deadline));
    }
    const std::size_t resizes_while_trickling = connection->input_state().buffer_resizes;
    ASSERT_TRUE(peer.send_all(Bytes(frame.begin() + static_cast<std::ptrdiff_t>(head + 200), frame.end()), s_deadline));
    const auto reply = peer.read_frame(s_deadline);

    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->payload.size(), 512U * 1024U);
    EXPECT_EQ(resizes_while_trickling, 1U);
    EXPECT_TRUE(
        eventually([&] { return connection->input_state().buffer_size <= std::size_t{64} * 1024U; }, s_deadline));
}

TEST_F(Hostile_peer_test, PipelinedLargeRequestsToASlowHandlerKeepTheHeldBytesBounded)
{
    Raw_client hostile(m_handle.endpoint);
    const auto connection = only_connection();
    ASSERT_NE(connection, nullptr);
    std::atomic<bool> stop{false};
    std::atomic<int> requests_sent{0};
    constexpr int s_requests = 40;
    // many 1 MiB requests to the 20 ms method, no reply ever read
    std::thread sender(
        [&]
        {
            const Bytes request = Raw_client::request(1, 1, Bytes(1024 * 1024 - 64, 1));
            for (int i = 0; i < s_requests && !stop; ++i)
            {
                std::size_t offset = 0;
                while (offset < request.size() && !stop)
                {
                    const std::size_t sent = hostile.send_some(request.data() + offset, request.size() - offset);
                    offset += sent;
                    if (sent == 0)
                    {
                        std::this_thread::sleep_for(1ms);
                    }
                }
                ++requests_sent;
            }
        });
    std::size_t most_bytes = 0;
    std::size_t most_requests = 0;
    bool paused = false;
    const auto watch = [&]
    {
        const auto state = connection->input_state();
        most_bytes = std::max(most_bytes, state.held_bytes);
        most_requests = std::max(most_requests, state.held_requests);
        paused = paused || state.paused;
        return requests_sent == s_requests && state.held_requests == 0;
    };

    // another client of the same instance is still served meanwhile
    Rport other(m_handle, EchoInterface::description());
    const auto reply = other.call_method(0, Serialized_payload({4}));
    const bool answered = reply.wait_for(s_deadline) == vela::com::future_status::ready;
    const bool drained = eventually(watch, 20s);
    stop = true;
    sender.join();

    EXPECT_TRUE(answered);
    EXPECT_TRUE(drained);
    EXPECT_TRUE(paused);
    EXPECT_LE(most_bytes, Connection::s_max_held_bytes);
    EXPECT_LE(most_requests, Connection::s_max_held_requests);
}

TEST_F(Hostile_peer_test, SubscriptionsOfOneConnectionAreBounded)
{
    Raw_client peer(m_handle.endpoint);
    constexpr std::uint16_t s_subscriptions = kest::com::internal::Pport_core::s_max_subscriptions + 6;
    Bytes burst;
    for (std::uint16_t event = 100; event < 100 + s_subscriptions; ++event)
    {
        kest::com::someip::Message_header header;
        header.service_id = EchoInterface::description().numeric_service_id();
        header.method_id = event;
        header.message_type = Message_type::kSubscribe;
        const Bytes frame = Raw_client::frame(header, {});
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    // the echo's reply follows every acknowledgement the subscriptions got
    const Bytes echo = Raw_client::request(0, 9, {1});
    burst.insert(burst.end(), echo.begin(), echo.end());
    ASSERT_TRUE(peer.send_all(burst, s_deadline));

    std::size_t acknowledged = 0;
    for (auto frame = peer.read_frame(s_deadline); frame && frame->header.message_type != Message_type::kResponse;
         frame = peer.read_frame(s_deadline))
    {
        acknowledged += frame->header.message_type == Message_type::kSubscribeAck ? 1 : 0;
    }

    EXPECT_EQ(acknowledged, kest::com::internal::Pport_core::s_max_subscriptions);
    EXPECT_EQ(m_log.count("com: ignoring a subscription of pid " + std::to_string(::getpid()) +
                              " to event 164: " + "64 events subscribed already",
                          ara::log::LogLevel::kWarn),
              1U);
    EXPECT_EQ(m_log.texts(ara::log::LogLevel::kWarn).size(), 1U);
}

TEST_F(Hostile_peer_test, BadFramesOfOnePeerAreLoggedOncePerSecond)
{
    for (int peer_number = 0; peer_number < 3; ++peer_number)
    {
        Raw_client peer(m_handle.endpoint);
        kest::com::someip::Message_header header;
        header.protocol_version = 2;

        ASSERT_TRUE(peer.send_all(Raw_client::frame(header, {}), s_deadline));
        EXPECT_TRUE(peer.wait_for_hangup(s_deadline)) << "peer " << peer_number;
    }

    EXPECT_EQ(m_log.count("com: dropping connection of pid " + std::to_string(::getpid()) +
                              ": bad frame (wrong protocol version)",
                          ara::log::LogLevel::kWarn),
              1U);
    EXPECT_EQ(m_log.texts(ara::log::LogLevel::kWarn).size(), 1U);
}

TEST_F(Hostile_peer_test, ConnectionsBeyondTheTotalBoundAreClosedAtOnce)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "needs root, whose connections count only to the total bound";
    }
    std::vector<std::unique_ptr<Raw_client>> served;
    for (std::size_t i = 0; i < s_max_connections; ++i)
    {
        served.push_back(std::make_unique<Raw_client>(m_handle.endpoint));
    }
    Raw_client surplus(m_handle.endpoint);

    EXPECT_TRUE(surplus.wait_for_hangup(s_deadline));
    for (auto& client : served)
    {
        ASSERT_TRUE(client->send_all(Raw_client::request(0, 1, {3}), s_deadline));
        EXPECT_TRUE(client->read_frame(s_deadline).has_value());
    }
    EXPECT_EQ(m_log.count("com: refusing a connection of pid " + std::to_string(::getpid()) +
                              " (uid 0) to tarn1::test::Echo instance local: 6 connections open",
                          ara::log::LogLevel::kWarn),
              1U);

    // one goes, another is taken
    served.pop_back();
    EXPECT_TRUE(eventually([&] { return sut->connections().size() == s_max_connections - 1; }, s_deadline));
    Raw_client next(m_handle.endpoint);
    ASSERT_TRUE(next.send_all(Raw_client::request(0, 1, {3}), s_deadline));
    EXPECT_TRUE(next.read_frame(s_deadline).has_value());
}

TEST_F(Hostile_peer_test, ConnectionsOfOneUserBeyondItsBoundAreClosedWhileRootsCountOnlyToTheTotal)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "needs root to run a peer under another uid";
    }
    constexpr uid_t s_other_uid = 65534;
    // the other user must reach the socket in the test's directory
    ASSERT_EQ(::chmod(m_dir.path().c_str(), 0755), 0);
    tarn1::testing::Peer_process other(COM_RAW_PEER, {"--uid", std::to_string(s_other_uid)}, m_dir.path());
    ASSERT_TRUE(other.wait_for_line("ready", s_deadline));

    other.send_line("connect " + m_handle.endpoint + " 5");
    ASSERT_TRUE(other.wait_for_line("connected 5", s_deadline));
    other.send_line("check");
    EXPECT_TRUE(other.wait_for_line("served 3 refused 2", 2 * s_deadline));
    // root is held only to the total: 3 more fill it, the fourth is refused
    std::vector<std::unique_ptr<Raw_client>> roots;
    for (int i = 0; i < 3; ++i)
    {
        roots.push_back(std::make_unique<Raw_client>(m_handle.endpoint));
        ASSERT_TRUE(roots.back()->send_all(Raw_client::request(0, 1, {2}), s_deadline));
        EXPECT_TRUE(roots.back()->read_frame(s_deadline).has_value()) << "root connection " << i;
    }
    Raw_client surplus(m_handle.endpoint);
    EXPECT_TRUE(surplus.wait_for_hangup(s_deadline));

    EXPECT_EQ(m_log.count("com: refusing a connection of pid " + std::to_string(other.pid()) +
                              " (uid 65534) to tarn1::test::Echo instance local: 3 connections of that user open",
                          ara::log::LogLevel::kWarn),
              1U);
    other.send_line("close");
    EXPECT_TRUE(other.wait_for_line("closed", s_deadline));
    EXPECT_TRUE(eventually([&] { return sut->connections().size() == 3; }, s_deadline));
}

TEST_F(Hostile_peer_test, BusyFindServiceHandlerGetsOnlyTheNewestListOfTheChangesMeanwhile)
{
    auto& finder = m_runtime->get_service_finder();
    const vela::com::runtime::Service_id service(EchoInterface::service_identifier());
    std::mutex mutex;
    std::condition_variable opened;
    bool gate_open = false;
    std::vector<std::size_t> busy_got;
    std::size_t other_got = 0;
    const auto busy = finder.start_find_service(
        [&](const std::vector<kest::com::cpp_binding::Service_handle>& handles)
        {
            std::unique_lock<std::mutex> lock(mutex);
            busy_got.push_back(handles.size());
            opened.wait_for(lock, s_deadline, [&] { return gate_open; });
        },
        service,
        vela::com::runtime::Instance_id("*"));
    ASSERT_TRUE(eventually(
        [&]
        {
            std::lock_guard<std::mutex> lock(mutex);
            return busy_got.size() == 1;
        },
        s_deadline));
    // a second search, told of each change right after the busy one
    const auto other = finder.start_find_service(
        [&](const std::vector<kest::com::cpp_binding::Service_handle>& handles)
        {
            std::lock_guard<std::mutex> lock(mutex);
            other_got = handles.size();
        },
        service,
        vela::com::runtime::Instance_id("*"));

    // three more offers while the busy handler still holds the first list
    std::vector<std::unique_ptr<tarn1::testing::Local_skeleton>> offers;
    for (const char* instance : {"a", "b", "c"})
    {
        offers.push_back(std::make_unique<tarn1::testing::Local_skeleton>(instance));
        offers.back()->OfferService();
    }
    ASSERT_TRUE(eventually(
        [&]
        {
            std::lock_guard<std::mutex> lock(mutex);
            return other_got == 4;
        },
        s_deadline));
    {
        std::lock_guard<std::mutex> lock(mutex);
        gate_open = true;
    }
    opened.notify_all();

    EXPECT_TRUE(eventually(
        [&]
        {
            std::lock_guard<std::mutex> lock(mutex);
            return busy_got.back() == 4;
        },
        s_deadline));
    finder.stop_find_service(other);
    finder.stop_find_service(busy);
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(busy_got, (std::vector<std::size_t>{1, 4}));
}

/// The provider in a child process whose descriptor limit is low, flooded with connections.
class Descriptor_limit_test : public ::testing::Test
{
  protected:
    static constexpr std::chrono::seconds s_deadline{5};
    static constexpr int s_descriptor_limit = 32;

    Descriptor_limit_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
    }
    ~Descriptor_limit_test() override
    {
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    static std::size_t open_descriptors(pid_t pid)
    {
        std::size_t count = 0;
        if (DIR* dir = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str()))
        {
            while (const dirent* entry = ::readdir(dir))
            {
                count += entry->d_name[0] != '.' ? 1 : 0;
            }
            ::closedir(dir);
        }
        return count;
    }

    /// User plus system CPU time of a process, in clock ticks.
    static long cpu_ticks(pid_t pid)
    {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        std::string field;
        long user = 0;
        long system = 0;
        for (int index = 3; index <= 15 && fields >> field; ++index)
        {
            user = index == 14 ? std::stol(field) : user;
            system = index == 15 ? std::stol(field) : system;
        }
        return user + system;
    }

    tarn1::testing::Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
};

TEST_F(Descriptor_limit_test, AcceptPausesAtTheLimitWithoutSpinningAndServesAgainLater)
{
#if defined(TARN1_SANITIZE_UNDEFINED)
    GTEST_SKIP() << "out of descriptors, the child's UBSan runtime cannot open the pipe it probes memory "
                    "with and reports every dynamic-type check it has not cached as a bad object";
#endif
    tarn1::testing::Peer_process sut(
        COM_TEST_PEER, {"flooded", "--nofile", std::to_string(s_descriptor_limit)}, m_dir.path());
    ASSERT_TRUE(sut.wait_for_line("offered", s_deadline));
    const auto handle = tarn1::testing::wait_for_instance(
        m_runtime->get_service_finder(), EchoInterface::service_identifier(), "flooded", s_deadline);
    ASSERT_TRUE(handle.has_value());

    // more connections than the provider has descriptors; the rest wait in its listen queue
    std::vector<std::unique_ptr<Raw_client>> flood;
    flood.reserve(2 * static_cast<std::size_t>(s_descriptor_limit));
    for (int i = 0; i < 2 * s_descriptor_limit; ++i)
    {
        flood.push_back(std::make_unique<Raw_client>(handle->endpoint));
    }
    ASSERT_TRUE(eventually([&] { return open_descriptors(sut.pid()) >= s_descriptor_limit; }, s_deadline));
    const long ticks_before = cpu_ticks(sut.pid());
    // a second of being at the limit
    std::this_thread::sleep_for(1s);
    const long ticks_used = cpu_ticks(sut.pid()) - ticks_before;
    sut.send_line("logged cannot accept connections");
    EXPECT_TRUE(sut.wait_for_line("logged 1", s_deadline));
    flood.clear();

    Rport port(*handle, EchoInterface::description());
    EXPECT_TRUE(eventually([&] { return port.is_connected(); }, s_deadline));
    const auto reply = port.call_method(0, Serialized_payload({6}));

    EXPECT_EQ(reply.wait_for(s_deadline), vela::com::future_status::ready);
    // under a fifth of one CPU
    EXPECT_LT(ticks_used, ::sysconf(_SC_CLK_TCK) / 5);
}

} // namespace
