#include "kest/com/cpp_binding/method_impl_base.h"
#include "kest/com/cpp_binding/rport.h"
#include "kest/com/cpp_binding/service_finder.h"
#include "kest/com/exceptions.h"
#include "kest/com/runtime/component_singleton.h"
#include "kest/com/someip/message_header.h"
#include "kest/com/someip/serializer.h"
#include "platform/com/tests/echo_interface.hpp"
#include "platform/com/tests/peer_process.hpp"
#include "testbed/support/temp_dir.hpp"

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace
{

using kest::com::cpp_binding::Rport;
using kest::com::cpp_binding::Service_handle;
using tarn1::testing::EchoInterface;
using tarn1::testing::Peer_process;
using vela::com::runtime::Serialized_payload;
using namespace std::chrono_literals;

constexpr auto s_deadline = 5s;

/// Collects what a find-service handler delivers, for waiting on it.
class Search_recorder
{
  public:
    void record(std::vector<Service_handle> handles)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_results.push_back(std::move(handles));
        m_changed.notify_all();
    }
    /// Waits until the latest result has count handles.
    bool wait_for_count(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(
            lock, s_deadline, [&] { return !m_results.empty() && m_results.back().size() == count; });
    }
    std::vector<Service_handle> latest()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_results.empty() ? std::vector<Service_handle>{} : m_results.back();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::vector<Service_handle>> m_results;
};

/// Decodes and keeps the values of the test field ("Level") as a proxy's receive handler gets them.
class Level_recorder
{
  public:
    /// Installs the receive handler on port; on_value, if given, sees each value as it arrives.
    explicit Level_recorder(Rport& port, std::function<void(const std::vector<std::uint8_t>&)> on_value = {})
        : m_port(port)
        , m_on_value(std::move(on_value))
    {
        m_port.set_receive_handler(0, [this] { take(); });
    }
    ~Level_recorder() { m_port.unset_receive_handler(0); }

    bool wait_for_count(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_arrived.wait_for(lock, s_deadline, [&] { return m_values.size() == count; });
    }
    std::vector<std::vector<std::uint8_t>> values()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_values;
    }

  private:
    void take()
    {
        std::vector<Serialized_payload> samples;
        m_port.take_samples(0, samples);
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& sample : samples)
        {
            std::vector<std::uint8_t> value;
            kest::com::someip::deserialize_arguments(sample, value);
            if (m_on_value)
            {
                m_on_value(value);
            }
            m_values.push_back(value);
        }
        m_arrived.notify_all();
    }

    Rport& m_port;
    std::function<void(const std::vector<std::uint8_t>&)> m_on_value;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::vector<std::uint8_t>> m_values;
};

class Com_process_test : public ::testing::Test
{
  protected:
    Com_process_test()
    {
        ::setenv("TARN1_COM_DIR", m_dir.path().c_str(), 1);
        m_runtime.emplace(false, "test");
    }
    ~Com_process_test() override
    {
        m_runtime.reset();
        ::unsetenv("TARN1_COM_DIR");
    }

    std::unique_ptr<Peer_process> start_peer(const std::string& instance)
    {
        auto peer = std::make_unique<Peer_process>(COM_TEST_PEER, std::vector<std::string>{instance}, m_dir.path());
        EXPECT_TRUE(peer->wait_for_line("offered", s_deadline));
        return peer;
    }

    /// The handle of the instance once discovery lists it.
    Service_handle wait_for_instance(const std::string& instance)
    {
        Search_recorder recorder;
        auto& finder = m_runtime->get_service_finder();
        const auto search =
            finder.start_find_service([&](auto handles) { recorder.record(std::move(handles)); },
                                      vela::com::runtime::Service_id(EchoInterface::service_identifier()),
                                      vela::com::runtime::Instance_id(instance));
        EXPECT_TRUE(recorder.wait_for_count(1));
        finder.stop_find_service(search);
        const auto handles = recorder.latest();
        return handles.empty() ? Service_handle{} : handles.front();
    }

    static Serialized_payload bytes(std::vector<std::uint8_t> content)
    {
        return Serialized_payload(std::move(content));
    }

    tarn1::testing::Temp_dir m_dir;
    std::optional<kest::com::runtime::Component_singleton> m_runtime;
};

TEST_F(Com_process_test, FindServiceSeesOfferWithdrawalAndKilledProvider)
{
    Search_recorder recorder;
    auto& finder = m_runtime->get_service_finder();
    const auto search = finder.start_find_service([&](auto handles) { recorder.record(std::move(handles)); },
                                                  vela::com::runtime::Service_id(EchoInterface::service_identifier()),
                                                  vela::com::runtime::Instance_id("*"));
    ASSERT_TRUE(recorder.wait_for_count(0));

    // another process offers, withdraws and offers again
    auto peer = start_peer("one");
    ASSERT_TRUE(recorder.wait_for_count(1));
    EXPECT_EQ(recorder.latest().front().instance_id.to_string(), "one");
    EXPECT_EQ(recorder.latest().front().pid, peer->pid());
    peer->send_line("withdraw");
    ASSERT_TRUE(recorder.wait_for_count(0));
    peer->send_line("offer");
    ASSERT_TRUE(recorder.wait_for_count(1));

    // the provider dies without withdrawing
    peer->kill();

    EXPECT_TRUE(recorder.wait_for_count(0));
    finder.stop_find_service(search);
}

TEST_F(Com_process_test, SearchForOneInstanceIgnoresOthers)
{
    auto other = start_peer("other");
    auto wanted = start_peer("wanted");

    const auto handle = wait_for_instance("wanted");

    EXPECT_EQ(handle.pid, wanted->pid());
    EXPECT_EQ(m_runtime->get_service_finder()
                  .find_service(vela::com::runtime::Service_id(EchoInterface::service_identifier()),
                                vela::com::runtime::Instance_id("*"))
                  .size(),
              2U);
}

TEST_F(Com_process_test, CallAcrossProcessesReturnsTheReplyPayload)
{
    auto peer = start_peer("echo");
    Rport sut(wait_for_instance("echo"), EchoInterface::description());

    const auto reply = sut.call_method(0, bytes({1, 2, 3})).get();

    EXPECT_EQ(reply.bytes(), (std::vector<std::uint8_t>{1, 2, 3}));
}

TEST_F(Com_process_test, ConcurrentCallsFromSeveralThreadsGetTheirOwnReplies)
{
    auto peer = start_peer("echo");
    Rport sut(wait_for_instance("echo"), EchoInterface::description());
    std::atomic<int> mismatches{0};
    std::vector<std::thread> callers;

    for (std::uint8_t thread = 0; thread < 8; ++thread)
    {
        callers.emplace_back(
            [&, thread]
            {
                for (std::uint8_t call = 0; call < 50; ++call)
                {
                    const std::vector<std::uint8_t> sent{thread, call};
                    if (sut.call_method(0, bytes(sent)).get().bytes() != sent)
                    {
                        ++mismatches;
                    }
                }
            });
    }
    for (auto& caller : callers)
    {
        caller.join();
    }

    EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(Com_process_test, FieldSubscriberGetsCurrentValueThenEachUpdate)
{
    auto peer = start_peer("echo");
    Rport sut(wait_for_instance("echo"), EchoInterface::description());
    Level_recorder levels(sut);

    sut.subscribe_event(0, 8);
    ASSERT_TRUE(levels.wait_for_count(1));
    peer->send_line("set 0102");

    ASSERT_TRUE(levels.wait_for_count(2));
    EXPECT_EQ(levels.values()[0], (std::vector<std::uint8_t>{0}));
    EXPECT_EQ(levels.values()[1], (std::vector<std::uint8_t>{1, 2}));
}

TEST_F(Com_process_test, ReplyOfACallNobodyWaitsForStillArrivesPromptly)
{
    auto peer = start_peer("echo");
    Rport sut(wait_for_instance("echo"), EchoInterface::description());
    std::mutex mutex;
    std::condition_variable arrived;
    std::optional<std::vector<std::uint8_t>> reply;
    const auto called = std::chrono::steady_clock::now();

    // Only a continuation: no thread ever waits for this call's future.
    auto chained = sut.call_method(0, bytes({7, 8}))
                       .then(
                           [&](vela::com::Future<Serialized_payload> done)
                           {
                               auto payload = done.get();
                               std::lock_guard<std::mutex> lock(mutex);
                               reply = payload.bytes();
                               arrived.notify_all();
                           });

    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, s_deadline, [&] { return reply.has_value(); }));
    EXPECT_EQ(*reply, (std::vector<std::uint8_t>{7, 8}));
    EXPECT_LT(std::chrono::steady_clock::now() - called, 1s);
}

TEST_F(Com_process_test, NotificationsArriveWhileAThreadWaitsForItsReply)
{
    auto peer = start_peer("echo");
    Rport sut(wait_for_instance("echo"), EchoInterface::description());
    std::atomic<bool> call_done{false};
    std::atomic<bool> update_before_reply{false};
    Level_recorder levels(sut,
                          [&](const std::vector<std::uint8_t>& value)
                          {
                              if (value.size() == 2 && !call_done)
                              {
                                  update_before_reply = true;
                              }
                          });
    sut.subscribe_event(0, 8);
    ASSERT_TRUE(levels.wait_for_count(1));
    std::thread updater(
        [&]
        {
            std::this_thread::sleep_for(50ms);
            peer->send_line("set 0102");
        });

    // The reply comes after 600 ms; the update is sent meanwhile, on the socket this thread reads.
    sut.call_method(2, kest::com::someip::serialize_arguments(std::uint32_t{600})).get();
    call_done = true;
    updater.join();

    ASSERT_TRUE(levels.wait_for_count(2));
    EXPECT_TRUE(update_before_reply);
}

TEST_F(Com_process_test, CallInFlightFailsPromptlyWhenTheProviderIsKilled)
{
    auto peer = start_peer("echo");
    Rport sut(wait_for_instance("echo"), EchoInterface::description());
    auto future = sut.call_method(1, bytes({}));
    const auto killed = std::chrono::steady_clock::now();

    peer->kill();

    EXPECT_THROW(future.get(), kest::com::Transport_exception);
    EXPECT_LT(std::chrono::steady_clock::now() - killed, 1s);
}

TEST_F(Com_process_test, CallWithoutReplyTimesOutWithTransportException)
{
    auto peer = start_peer("echo");
    Rport sut(wait_for_instance("echo"), EchoInterface::description());
    sut.set_call_timeout(150ms);
    const auto started = std::chrono::steady_clock::now();

    auto future = sut.call_method(1, bytes({}));

    try
    {
        future.get();
        FAIL() << "the call completed";
    }
    catch (const kest::com::Transport_exception& error)
    {
        EXPECT_STREQ(error.what(), "no reply within 150 ms");
    }
    EXPECT_GE(std::chrono::steady_clock::now() - started, 150ms);
}

TEST_F(Com_process_test, LateReplyAfterTimeoutIsIgnoredAndLaterCallsWork)
{
    auto peer = start_peer("echo");
    Rport sut(wait_for_instance("echo"), EchoInterface::description());
    sut.set_call_timeout(100ms);

    EXPECT_THROW(sut.call_method(2, kest::com::someip::serialize_arguments(std::uint32_t{300})).get(),
                 kest::com::Transport_exception);
    sut.set_call_timeout(5000ms);

    EXPECT_EQ(sut.call_method(0, bytes({7})).get().bytes(), std::vector<std::uint8_t>{7});
}

TEST_F(Com_process_test, CallAfterProviderDiedFailsWithServiceNotAvailable)
{
    auto peer = start_peer("echo");
    Rport sut(wait_for_instance("echo"), EchoInterface::description());
    peer->kill();
    Search_recorder recorder;
    auto& finder = m_runtime->get_service_finder();
    const auto search = finder.start_find_service([&](auto handles) { recorder.record(std::move(handles)); },
                                                  vela::com::runtime::Service_id(EchoInterface::service_identifier()),
                                                  vela::com::runtime::Instance_id("echo"));
    ASSERT_TRUE(recorder.wait_for_count(0));
    finder.stop_find_service(search);

    try
    {
        sut.call_method(0, bytes({1})).get();
        FAIL() << "the call completed";
    }
    catch (const kest::com::Infrastructure_exception& error)
    {
        EXPECT_STREQ(error.what(), "Service not available exception");
    }
}

TEST_F(Com_process_test, ProxyReconnectsWhenTheInstanceComesBack)
{
    auto peer = start_peer("echo");
    Rport sut(wait_for_instance("echo"), EchoInterface::description());
    sut.subscribe_event(0, 1);
    peer->kill();

    // the provider restarts as a new process
    auto restarted = start_peer("echo");

    const auto deadline = std::chrono::steady_clock::now() + s_deadline;
    while (!sut.is_connected() && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(sut.is_connected());
    EXPECT_EQ(sut.call_method(0, bytes({9})).get().bytes(), std::vector<std::uint8_t>{9});
}

TEST_F(Com_process_test, MalformedFrameClosesOnlyThatConnection)
{
    auto peer = start_peer("echo");
    const auto handle = wait_for_instance("echo");
    Rport sut(handle, EchoInterface::description());
    const int raw = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", handle.endpoint.c_str());
    ASSERT_EQ(::connect(raw, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    timeval receive_timeout{5, 0};
    ::setsockopt(raw, SOL_SOCKET, SO_RCVTIMEO, &receive_timeout, sizeof receive_timeout);

    // a header announcing a payload far beyond the limit
    kest::com::someip::Message_header header;
    header.length = kest::com::someip::kMax_payload + 100;
    std::uint8_t frame[kest::com::someip::kHeader_size];
    kest::com::someip::encode_header(header, frame);
    ASSERT_EQ(::send(raw, frame, sizeof frame, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof frame));

    char byte = 0;
    EXPECT_EQ(::recv(raw, &byte, 1, 0), 0);
    ::close(raw);
    EXPECT_EQ(sut.call_method(0, bytes({5})).get().bytes(), std::vector<std::uint8_t>{5});
}

} // namespace
