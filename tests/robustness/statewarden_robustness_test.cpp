// Hostile peers on the sockets of a running Statewarden (the middleware endpoints of its offered
// services and the notification socket), with the daemon at a low descriptor limit. Whatever they
// do, the daemon stays alive and does not spin, the well-behaved clients are served in their usual
// time (once the descriptor limit lets new ones in), a standby and a resume complete within their
// configured timeouts, and what the daemon holds and logs stays bounded. docs/robustness.md lists
// the bounds.

#include "client_state_notifier/type_length_value.hpp"
#include "client_state_notifier/utilities.hpp"
#include "kest/com/cpp_binding/rport.h"
#include "kest/com/someip/message_header.h"
#include "platform/com/tests/wait_for_instance.hpp"
#include "statemanager/skeleton/service_interfaces.hpp"
#include "tests/robustness/bounds.hpp"
#include "tests/robustness/hostile_peers.hpp"
#include "tests/robustness/process_probe.hpp"
#include "tests/robustness/statewarden_fixture.hpp"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace tarn1::testing
{
namespace
{

using namespace std::chrono_literals;
using vela::ap::statemanager::DSAInterface;
using vela::ap::statemanager::StateManagementAliveInterface;
using Clock = std::chrono::steady_clock;

// ---- what the attackers send ----

Bytes hello(const std::string& name)
{
    return utilities::serialize(utilities::Elements{utilities::Type_length_value(utilities::get_protocol_version_one()),
                                                    utilities::Type_length_value(name),
                                                    utilities::Type_length_value(std::string("kOn"))});
}

Bytes response(std::uint32_t id, const std::string& state, std::uint32_t code)
{
    return utilities::serialize(utilities::Elements{
        utilities::Type_length_value(id), utilities::Type_length_value(state), utilities::Type_length_value(code)});
}

/// A middleware frame whose header declares payload_size bytes, followed by those bytes.
Bytes someip_frame(const kest::com::connector::Service_interface_description& service,
                   std::uint16_t method,
                   std::uint32_t payload_size,
                   kest::com::someip::Message_type type = kest::com::someip::Message_type::kRequest)
{
    kest::com::someip::Message_header header;
    header.service_id = service.numeric_service_id();
    header.method_id = method;
    header.length = kest::com::someip::kLength_offset + payload_size;
    header.client_id = 0x4242;
    header.session_id = 1;
    header.message_type = type;
    Bytes frame(kest::com::someip::kHeader_size + payload_size, 0x5a);
    kest::com::someip::encode_header(header, frame.data());
    return frame;
}

/// Frames that break the middleware's protocol, one of each kind it closes a connection for.
std::vector<Bytes> bad_someip_frames()
{
    const auto service = DSAInterface::description();
    std::vector<Bytes> frames;
    auto version = someip_frame(service, 0, 1);
    version[12] = 2;
    frames.push_back(version);
    auto short_length = someip_frame(service, 0, 0);
    short_length[7] = 4;
    frames.push_back(short_length);
    // the header of a frame above 1 MiB: the connection is closed before its payload
    auto oversized = someip_frame(service, 0, 0);
    const std::uint32_t length = kest::com::someip::kLength_offset + kest::com::someip::kMax_payload + 1;
    for (int byte = 0; byte < 4; ++byte)
    {
        oversized[4 + byte] = static_cast<std::uint8_t>(length >> (24 - 8 * byte));
    }
    frames.push_back(oversized);
    frames.push_back(someip_frame(service, 0, 1, static_cast<kest::com::someip::Message_type>(0x42)));
    frames.push_back(someip_frame(service, 0, 1, kest::com::someip::Message_type::kResponse));
    return frames;
}

/// Frames that break the notification protocol.
std::vector<Bytes> bad_notification_frames()
{
    std::vector<Bytes> frames;
    // a frame declaring 1 MiB
    Bytes oversized;
    utilities::append_uint32(oversized, 2);
    utilities::append_uint64(oversized, 1U << 20U);
    frames.push_back(oversized);
    // an element that runs past the end of its frame
    Bytes overrun;
    utilities::append_uint32(overrun, 2);
    utilities::append_uint64(overrun, 12);
    utilities::append_uint32(overrun, 0);
    utilities::append_uint64(overrun, 500);
    frames.push_back(overrun);
    // a hello without the state
    frames.push_back(
        utilities::serialize(utilities::Elements{utilities::Type_length_value(utilities::get_protocol_version_one()),
                                                 utilities::Type_length_value(std::string("x"))}));
    // a hello, then a response whose id has 2 bytes
    auto short_id = hello("short_id");
    const auto tail = utilities::serialize(
        utilities::Elements{utilities::Type_length_value(utilities::Payload_type::uint32_type, {1, 0}),
                            utilities::Type_length_value(std::string("kOn")),
                            utilities::Type_length_value(std::uint32_t{0})});
    short_id.insert(short_id.end(), tail.begin(), tail.end());
    frames.push_back(short_id);
    return frames;
}

// ---- the attacks ----

/// What an attack needs to know of the daemon it attacks.
struct Target
{
    pid_t pid;
    rlim_t descriptor_limit;
    std::string dsa_endpoint;
    std::string ecu_endpoint;
    std::string notification_socket;
    Nm_side* nm;
    std::function<std::string()> log;
};

struct Attack
{
    std::vector<std::unique_ptr<Hostile_peer>> peers;
    /// True once the attack is in full force: every peer engaged, and what the daemon shows of it.
    std::function<bool()> engaged;
};

/// Makes the NM side slow for as long as the attack lasts.
class Slow_nm final : public Hostile_peer
{
  public:
    explicit Slow_nm(Nm_side& nm)
        : m_nm(nm)
    {
        m_nm.set_slow(true);
    }
    ~Slow_nm() override { m_nm.set_slow(false); }
    bool engaged() const override { return true; }

  private:
    Nm_side& m_nm;
};

template <typename Peer, typename... Arguments> Peer& add(Attack& attack, Arguments&&... arguments)
{
    auto peer = std::make_unique<Peer>(std::forward<Arguments>(arguments)...);
    auto& added = *peer;
    attack.peers.push_back(std::move(peer));
    return added;
}

std::function<bool()> all_engaged(
    const Attack& attack, std::function<bool()> also = [] { return true; })
{
    return [&attack, also]
    {
        for (const auto& peer : attack.peers)
        {
            if (!peer->engaged())
            {
                return false;
            }
        }
        return also();
    };
}

bool at_descriptor_limit(const Target& target)
{
    return descriptor_count(target.pid).value_or(0) >= target.descriptor_limit;
}

bool logged(const Target& target, const std::string& fragment)
{
    return target.log().find(fragment) != std::string::npos;
}

std::unique_ptr<Attack> middleware_connection_flood(const Target& target)
{
    auto attack = std::make_unique<Attack>();
    add<Connection_flood>(*attack, target.dsa_endpoint, nullptr, 400);
    attack->engaged = all_engaged(*attack,
                                  [target]
                                  {
                                      return at_descriptor_limit(target) &&
                                             logged(target,
                                                    "com: cannot accept connections to " +
                                                        std::string(DSAInterface::service_identifier()));
                                  });
    return attack;
}

std::unique_ptr<Attack> middleware_slow_partial_requests(const Target& target)
{
    auto attack = std::make_unique<Attack>();
    // 16 requests of 512 KiB, a byte every 5 ms each
    add<Tricklers>(
        *attack,
        target.ecu_endpoint,
        [](std::size_t)
        {
            return someip_frame(
                StateManagementAliveInterface::description(), StateManagementAliveInterface::kRequestAlive, 512 * 1024);
        },
        16,
        5ms);
    attack->engaged = all_engaged(*attack);
    return attack;
}

std::unique_ptr<Attack> middleware_peer_that_never_reads(const Target& target)
{
    auto attack = std::make_unique<Attack>();
    // requests of 1 MiB pipelined as fast as the daemon takes them, while each takes the NM side 20 ms
    add<Slow_nm>(*attack, *target.nm);
    add<Non_reader>(*attack,
                    target.ecu_endpoint,
                    Bytes{},
                    someip_frame(StateManagementAliveInterface::description(),
                                 StateManagementAliveInterface::kRequestAlive,
                                 kest::com::someip::kMax_payload),
                    0ms);
    attack->engaged = all_engaged(*attack);
    return attack;
}

std::unique_ptr<Attack> middleware_malformed_and_oversized_frames(const Target& target)
{
    auto attack = std::make_unique<Attack>();
    add<Bad_frame_sender>(*attack, target.dsa_endpoint, bad_someip_frames(), 5ms);
    attack->engaged = all_engaged(*attack);
    return attack;
}

std::unique_ptr<Attack> notification_connection_flood(const Target& target)
{
    auto attack = std::make_unique<Attack>();
    // each connection says hello: registered clients that never answer
    add<Connection_flood>(
        *attack,
        target.notification_socket,
        [](std::size_t serial) { return hello("flood_" + std::to_string(serial)); },
        400);
    attack->engaged = all_engaged(
        *attack,
        [target] { return at_descriptor_limit(target) && logged(target, "accept failed, new connections wait"); });
    return attack;
}

std::unique_ptr<Attack> notification_flood_of_another_user(const Target& target)
{
    auto attack = std::make_unique<Attack>();
    std::vector<Bytes> hellos;
    for (int serial = 0; serial < 200; ++serial)
    {
        hellos.push_back(hello("user_" + std::to_string(serial)));
    }
    add<Other_user_connections>(*attack, 60001, target.notification_socket, std::move(hellos));
    attack->engaged = all_engaged(*attack);
    return attack;
}

std::unique_ptr<Attack> notification_slow_partial_requests(const Target& target)
{
    auto attack = std::make_unique<Attack>();
    // 48 hellos, a byte every 100 ms each: none is complete before the hello timeout
    add<Tricklers>(
        *attack,
        target.notification_socket,
        [](std::size_t serial) { return hello("trickler_" + std::to_string(serial)); },
        48,
        100ms);
    // and a client that sends half of its answer, and no more
    const auto answer = response(2, "kPrepSD", 0);
    add<Partial_answerer>(
        *attack, target.notification_socket, hello("half_answer"), Bytes(answer.begin(), answer.begin() + 20));
    attack->engaged = all_engaged(*attack, [target] { return logged(target, "client connected: name = half_answer"); });
    return attack;
}

std::unique_ptr<Attack> notification_peer_that_never_reads(const Target& target)
{
    auto attack = std::make_unique<Attack>();
    // a registered client that never reads and keeps sending answers to no request
    Bytes stale;
    for (int answer = 0; answer < 160; ++answer)
    {
        const auto one = response(99, "kOn", 0);
        stale.insert(stale.end(), one.begin(), one.end());
    }
    add<Non_reader>(*attack, target.notification_socket, hello("stale"), stale, 10ms);
    attack->engaged = all_engaged(*attack);
    return attack;
}

std::unique_ptr<Attack> notification_malformed_and_oversized_frames(const Target& target)
{
    auto attack = std::make_unique<Attack>();
    add<Bad_frame_sender>(*attack, target.notification_socket, bad_notification_frames(), 5ms);
    attack->engaged = all_engaged(*attack);
    return attack;
}

struct Attack_case
{
    const char* name;
    std::unique_ptr<Attack> (*start)(const Target&);
    /// The attack holds every descriptor the daemon may open, so new connections can be taken only
    /// once it lets go; the clients connected before are served all the same.
    bool holds_the_limit;
    /// A line the daemon writes about the attack (the first of its kind keeps its text).
    const char* logged;
};

void PrintTo(const Attack_case& value, std::ostream* out)
{
    *out << value.name;
}

class Statewarden_robustness_test : public Statewarden_fixture, public ::testing::WithParamInterface<Attack_case>
{
};

TEST_P(Statewarden_robustness_test, DaemonServesOthersOnTimeAndStaysBounded)
{
    if (s_sanitized_undefined && GetParam().holds_the_limit)
    {
        GTEST_SKIP() << "out of descriptors, the daemon's UBSan runtime cannot open the pipe it probes memory with and "
                        "reports every dynamic-type check it has not cached as a bad object";
    }
    ASSERT_NO_FATAL_FAILURE(start(s_descriptor_limit));
    const pid_t pid = m_daemon->pid();
    const auto dsa = wait_for_instance(
        m_runtime->get_service_finder(), DSAInterface::service_identifier(), DSAInterface::instance(), 10s);
    ASSERT_TRUE(dsa.has_value()) << log();
    kest::com::cpp_binding::Rport connected_before(*dsa, DSAInterface::description());
    connected_before.set_call_timeout(s_normal_time);
    // answered: the daemon holds its connection
    ASSERT_NO_THROW(
        connected_before.call_method(DSAInterface::kRequestRestart, vela::com::runtime::Serialized_payload({2})).get())
        << log();
    const auto descriptors_before = descriptor_count(pid);
    const auto log_before = log().size();
    Peak_resident_memory memory(pid);
    const Target target{pid,
                        s_descriptor_limit,
                        endpoint(DSAInterface::service_identifier(), DSAInterface::instance()),
                        endpoint(StateManagementAliveInterface::service_identifier(), "ecu"),
                        notification_socket(),
                        &*m_nm,
                        [this] { return log(); }};

    // the attack starts and reaches its full force
    auto attack = GetParam().start(target);
    const bool engaged = eventually(attack->engaged, 10s);
    const auto cpu = cpu_share(pid, s_cpu_window);
    // an application connected before calls; new clients come unless every descriptor is taken
    const auto start_of_call = Clock::now();
    const bool answered_before =
        connected_before.call_method(DSAInterface::kRequestRestart, vela::com::runtime::Serialized_payload({2}))
            .wait_for(s_normal_time) == vela::com::future_status::ready;
    const auto call_time = Clock::now() - start_of_call;
    std::optional<std::chrono::milliseconds> new_call;
    std::unique_ptr<Answering_client> newcomer;
    bool newcomer_served = false;
    if (!GetParam().holds_the_limit)
    {
        new_call = dsa_call(s_normal_time);
        // asked at once for the expected state, since it says it is in another
        newcomer = std::make_unique<Answering_client>("newcomer", notification_socket(), "kPrepSD");
        newcomer_served = newcomer->wait_asked("kOn", 1, s_normal_time);
    }
    // the hypervisor presses P while the attack goes on
    const auto standby_time = standby();
    // the attack ends
    attack.reset();
    const auto call_after = dsa_call(s_normal_time);
    auto late = std::make_unique<Answering_client>("late", notification_socket(), "kOn");
    const bool late_served = late->wait_asked("kPrepSD", 1, s_normal_time);
    // R resumes
    const auto resume_time = resume();

    std::cout << "[ measured ] CPU " << cpu.value_or(-1) << " of a core, peak " << memory.peak_kib()
              << " KiB resident, log +" << log().size() - log_before << " bytes, standby "
              << standby_time.value_or(-1ms).count() << " ms, resume " << resume_time.value_or(-1ms).count()
              << " ms, call " << std::chrono::duration_cast<std::chrono::milliseconds>(call_time).count()
              << " ms, new call " << new_call.value_or(-1ms).count() << " ms, after "
              << call_after.value_or(-1ms).count() << " ms\n";
    EXPECT_TRUE(engaged) << log();
    ASSERT_TRUE(m_daemon->running()) << log();
    if (!s_sanitized)
    {
        ASSERT_TRUE(cpu.has_value());
        EXPECT_LT(*cpu, s_max_cpu_share);
    }
    EXPECT_TRUE(answered_before);
    EXPECT_LT(call_time, s_normal_time);
    if (!GetParam().holds_the_limit)
    {
        EXPECT_TRUE(new_call.has_value()) << "no answer within " << s_normal_time.count() << " ms";
        EXPECT_TRUE(newcomer_served);
    }
    EXPECT_TRUE(standby_time.has_value()) << m_dir.read_file("set_status") << log();
    EXPECT_TRUE(call_after.has_value());
    EXPECT_TRUE(late_served);
    EXPECT_TRUE(resume_time.has_value()) << m_dir.read_file("set_status") << log();
    EXPECT_TRUE(late->wait_asked("kOn", 1, s_normal_time));
    for (const auto& client : m_clients)
    {
        EXPECT_GE(client->asked("kPrepSD"), 1U);
        EXPECT_GE(client->asked("kOn"), 1U);
    }
    EXPECT_LE(memory.peak_kib(), s_max_statewarden_resident_kib);
    EXPECT_LE(log().size() - log_before, s_max_log_growth);
    if (GetParam().logged != nullptr)
    {
        EXPECT_NE(log().find(GetParam().logged), std::string::npos) << log();
    }
    // once the newcomers have gone too, the daemon holds what it held before
    newcomer.reset();
    late.reset();
    EXPECT_TRUE(eventually([&] { return descriptor_count(pid) == descriptors_before; }, 5s))
        << descriptor_count(pid).value_or(0) << " descriptors, " << descriptors_before.value_or(0) << " before";
    m_hypervisor.close();
    m_daemon->send(SIGTERM);
    EXPECT_EQ(m_daemon->wait_for_exit(10s), 0) << log();
}

INSTANTIATE_TEST_SUITE_P(
    Attacks,
    Statewarden_robustness_test,
    ::testing::Values(Attack_case{"MiddlewareConnectionFloodToTheDescriptorLimit",
                                  middleware_connection_flood,
                                  true,
                                  "; accepting paused for 100 ms"},
                      Attack_case{"MiddlewareSlowPartialRequests", middleware_slow_partial_requests, false, nullptr},
                      Attack_case{"MiddlewarePeerThatNeverReads", middleware_peer_that_never_reads, false, nullptr},
                      Attack_case{"MiddlewareMalformedAndOversizedFrames",
                                  middleware_malformed_and_oversized_frames,
                                  false,
                                  "com: dropping connection of pid "},
                      Attack_case{"NotificationConnectionFloodToTheDescriptorLimit",
                                  notification_connection_flood,
                                  true,
                                  "accept failed, new connections wait"},
                      Attack_case{"NotificationFloodOfAnotherUser",
                                  notification_flood_of_another_user,
                                  false,
                                  "uid 60001 has 64 clients connected"},
                      Attack_case{
                          "NotificationSlowPartialRequests", notification_slow_partial_requests, false, nullptr},
                      Attack_case{"NotificationPeerThatNeverReads",
                                  notification_peer_that_never_reads,
                                  false,
                                  "Client stale errorneously reported state change to kOn"},
                      Attack_case{"NotificationMalformedAndOversizedFrames",
                                  notification_malformed_and_oversized_frames,
                                  false,
                                  "closing connection with a bad hello"}),
    [](const ::testing::TestParamInfo<Attack_case>& param) { return std::string(param.param.name); });

} // namespace
} // namespace tarn1::testing
