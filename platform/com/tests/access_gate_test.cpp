// The access decisions of one connection: the decision cache and the gate that asks the IAM daemon
// (a mock here) for what the cache does not know.
#include "ara/log/testing/log_capture.h"
#include "kest/com/exceptions.h"
#include "platform/com/src/access_control.hpp"
#include "platform/com/tests/mocks/mock_iam_client.hpp"

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

using kest::com::internal::Access_control;
using kest::com::internal::Access_gate;
using kest::com::internal::Access_key;
using kest::com::internal::Access_mode;
using kest::com::internal::Clock;
using kest::com::internal::Decision_cache;
using kest::com::internal::Peer_identity;
using kest::com::internal::Port_names;
using kest::com::internal::Verdict;
using kest::com::someip::Message_type;
using testing::_;
using testing::NiceMock;
using vela::iam::Decision;
using vela::iam::Operation;
using namespace std::chrono_literals;

const Access_key s_key{Peer_identity{4242, 777, 1000, 1000}, 0x153d, 3, Operation::Call_method};

struct Key_case
{
    const char* name;
    std::function<void(Access_key&)> change;
};

void PrintTo(const Key_case& param, std::ostream* out)
{
    *out << param.name;
}

class Decision_cache_key_test : public ::testing::TestWithParam<Key_case>
{
};

TEST_P(Decision_cache_key_test, KeyDifferingInOneFieldFindsNothing)
{
    Decision_cache sut;
    const auto now = Clock::now();
    sut.store(s_key, Verdict::kAllowed, now);
    Access_key other = s_key;
    GetParam().change(other);

    const auto found = sut.find(other, now);

    EXPECT_FALSE(found.has_value());
    EXPECT_EQ(sut.find(s_key, now), Verdict::kAllowed);
}

INSTANTIATE_TEST_SUITE_P(
    Decision_cache_key_test,
    Decision_cache_key_test,
    ::testing::Values(Key_case{"Pid", [](Access_key& key) { key.peer.pid = 4243; }},
                      // a later process with the same pid
                      Key_case{"StartTime", [](Access_key& key) { key.peer.start_time = 778; }},
                      Key_case{"Uid", [](Access_key& key) { key.peer.uid = 0; }},
                      Key_case{"Gid", [](Access_key& key) { key.peer.gid = 0; }},
                      Key_case{"Service", [](Access_key& key) { key.service = 0x153e; }},
                      Key_case{"Member", [](Access_key& key) { key.member = 4; }},
                      Key_case{"Operation", [](Access_key& key) { key.operation = Operation::Subscribe_event; }}),
    [](const ::testing::TestParamInfo<Key_case>& param) { return param.param.name; });

struct Lifetime_case
{
    const char* name;
    Verdict verdict;
    Clock::duration lifetime;
};

void PrintTo(const Lifetime_case& param, std::ostream* out)
{
    *out << param.name;
}

class Decision_cache_lifetime_test : public ::testing::TestWithParam<Lifetime_case>
{
};

TEST_P(Decision_cache_lifetime_test, VerdictHoldsForItsLifetimeOnly)
{
    Decision_cache sut;
    const auto stored = Clock::now();
    sut.store(s_key, GetParam().verdict, stored);

    const auto before = sut.find(s_key, stored + GetParam().lifetime - 1ms);
    const auto at = sut.find(s_key, stored + GetParam().lifetime);

    EXPECT_EQ(before, GetParam().verdict);
    EXPECT_FALSE(at.has_value());
    EXPECT_EQ(sut.size(), 0U);
}

INSTANTIATE_TEST_SUITE_P(Decision_cache_lifetime_test,
                         Decision_cache_lifetime_test,
                         ::testing::Values(Lifetime_case{"Allowed", Verdict::kAllowed, 60s},
                                           Lifetime_case{"Denied", Verdict::kDenied, 60s},
                                           Lifetime_case{"ErrorAnswer", Verdict::kError, 60s},
                                           Lifetime_case{"PeerGone", Verdict::kPeerGone, 60s},
                                           // a daemon that did not answer is asked again soon
                                           Lifetime_case{"NoAnswer", Verdict::kNoAnswer, 1s}),
                         [](const ::testing::TestParamInfo<Lifetime_case>& param) { return param.param.name; });

TEST(Decision_cache_test, FullCacheDropsExpiredEntriesFirstThenTheOneExpiringFirst)
{
    Decision_cache sut(3);
    const auto start = Clock::now();
    Access_key keys[5] = {s_key, s_key, s_key, s_key, s_key};
    for (std::uint16_t i = 0; i < 5; ++i)
    {
        keys[i].member = i;
    }
    sut.store(keys[0], Verdict::kNoAnswer, start);
    sut.store(keys[1], Verdict::kAllowed, start);
    sut.store(keys[2], Verdict::kAllowed, start + 1s);

    // keys[0] has expired by now: it goes, the others stay
    sut.store(keys[3], Verdict::kDenied, start + 2s);
    // nothing has expired: keys[1], stored first, goes
    sut.store(keys[4], Verdict::kDenied, start + 3s);

    const auto now = start + 3s;
    EXPECT_EQ(sut.size(), 3U);
    EXPECT_FALSE(sut.find(keys[0], now).has_value());
    EXPECT_FALSE(sut.find(keys[1], now).has_value());
    EXPECT_EQ(sut.find(keys[2], now), Verdict::kAllowed);
    EXPECT_EQ(sut.find(keys[3], now), Verdict::kDenied);
    EXPECT_EQ(sut.find(keys[4], now), Verdict::kDenied);
}

/// A frame as the gate handed it on.
struct Delivered
{
    Message_type type;
    std::uint16_t session;
    bool allowed;
    bool operator==(const Delivered& other) const
    {
        return type == other.type && session == other.session && allowed == other.allowed;
    }
};

std::ostream& operator<<(std::ostream& out, const Delivered& delivered)
{
    return out << "{type " << static_cast<unsigned>(delivered.type) << ", session " << delivered.session
               << (delivered.allowed ? ", allowed}" : ", refused}");
}

/// A gate over a mock IAM client that keeps each check's callback until the test answers it.
class Access_gate_test : public ::testing::Test
{
  protected:
    static constexpr std::uint16_t s_service = 0x153d;

    void make_gate(Access_mode mode, std::int32_t pid, bool alive = true)
    {
        sut = gate(std::make_shared<Access_control>(mode, 200ms, m_iam), Peer_identity{pid, 99, 1000, 1000}, alive);
    }

    /// A gate of control for peer, whose process is alive or not.
    std::shared_ptr<Access_gate> gate(std::shared_ptr<Access_control> control, Peer_identity peer, bool alive = true)
    {
        ON_CALL(*m_iam, check(_, _, _))
            .WillByDefault(
                [this](const vela::iam::Check_request_posix& request, Clock::time_point, auto done)
                {
                    m_asked.push_back(request);
                    m_answers.push_back(std::move(done));
                });
        m_peer = peer;
        return std::make_shared<Access_gate>(
            std::move(control),
            m_peer,
            Port_names{"tarn1::test::Echo", "gate", s_service},
            [this](const Access_gate::Frame& frame, bool allowed) {
                m_delivered.push_back(Delivered{frame.header.message_type, frame.header.session_id, allowed});
            },
            [alive](const Peer_identity&) { return alive; });
    }

    static Access_gate::Frame frame(Message_type type, std::uint16_t id, std::uint16_t session)
    {
        Access_gate::Frame frame;
        frame.header.service_id = s_service;
        frame.header.method_id = id;
        frame.header.session_id = session;
        frame.header.message_type = type;
        return frame;
    }

    /// Answers the oldest unanswered check.
    void answer(std::optional<Decision> decision)
    {
        ASSERT_LT(m_answered, m_answers.size());
        m_answers[m_answered++](decision);
    }

    std::shared_ptr<NiceMock<tarn1::testing::Mock_iam_client>> m_iam =
        std::make_shared<NiceMock<tarn1::testing::Mock_iam_client>>();
    ara::log::testing::Log_capture m_log;
    Peer_identity m_peer;
    std::vector<vela::iam::Check_request_posix> m_asked;
    std::vector<tarn1::testing::Mock_iam_client::Done> m_answers;
    std::size_t m_answered{0};
    std::vector<Delivered> m_delivered;
    std::shared_ptr<Access_gate> sut;
};

TEST_F(Access_gate_test, FramesWaitInArrivalOrderAndAskTheDaemonOncePerCheck)
{
    make_gate(Access_mode::kEnforce, 5001);

    sut->submit(frame(Message_type::kRequest, 5, 1));
    sut->submit(frame(Message_type::kRequest, 5, 2));
    sut->submit(frame(Message_type::kSubscribe, 7, 0));
    sut->submit(frame(Message_type::kUnsubscribe, 7, 0));
    const std::size_t waiting = sut->waiting();
    answer(Decision::allowed);
    answer(Decision::allowed);
    answer(Decision::allowed);

    EXPECT_EQ(waiting, 4U);
    EXPECT_EQ(m_delivered,
              (std::vector<Delivered>{{Message_type::kRequest, 1, true},
                                      {Message_type::kRequest, 2, true},
                                      {Message_type::kSubscribe, 0, true},
                                      {Message_type::kUnsubscribe, 0, true}}));
    ASSERT_EQ(m_asked.size(), 3U);
    const std::vector<std::pair<Operation, std::uint16_t>> expected{
        {Operation::Use_service, 0}, {Operation::Call_method, 5}, {Operation::Subscribe_event, 7}};
    for (std::size_t i = 0; i < m_asked.size(); ++i)
    {
        EXPECT_EQ(m_asked[i].service.operation, expected[i].first) << i;
        EXPECT_EQ(m_asked[i].service.member_id, expected[i].second) << i;
        EXPECT_EQ(m_asked[i].service.service_id, s_service) << i;
        EXPECT_EQ(m_asked[i].identifier.pid, m_peer.pid) << i;
        EXPECT_EQ(m_asked[i].identifier.uid, m_peer.uid) << i;
        EXPECT_EQ(m_asked[i].identifier.gid, m_peer.gid) << i;
    }
}

TEST_F(Access_gate_test, RequestForAnotherServicePassesWithoutACheck)
{
    make_gate(Access_mode::kEnforce, 5002);
    auto other = frame(Message_type::kRequest, 0, 1);
    other.header.service_id = s_service + 1;

    sut->submit(other);

    EXPECT_EQ(m_delivered, (std::vector<Delivered>{{Message_type::kRequest, 1, true}}));
    EXPECT_TRUE(m_asked.empty());
}

struct Refusal_case
{
    const char* name;
    Access_mode mode;
    std::optional<Decision> answer;
    bool passes;
    /// The warning, or empty for none.
    std::string log;
};

void PrintTo(const Refusal_case& param, std::ostream* out)
{
    *out << param.name;
}

class Access_gate_refusal_test : public Access_gate_test, public ::testing::WithParamInterface<Refusal_case>
{
};

TEST_P(Access_gate_refusal_test, AnswerOfTheDaemonDecidesAndRefusalsAreLogged)
{
    make_gate(GetParam().mode, 5100);

    sut->submit(frame(Message_type::kRequest, 5, 1));
    answer(GetParam().answer);
    // a use that passes leads to the check of the call
    if (GetParam().passes)
    {
        answer(Decision::allowed);
    }

    EXPECT_EQ(m_delivered, (std::vector<Delivered>{{Message_type::kRequest, 1, GetParam().passes}}));
    const auto warnings = m_log.texts(ara::log::LogLevel::kWarn);
    if (GetParam().log.empty())
    {
        EXPECT_TRUE(warnings.empty());
    }
    else
    {
        EXPECT_EQ(warnings, std::vector<std::string>{GetParam().log});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Access_gate_refusal_test,
    Access_gate_refusal_test,
    ::testing::Values(
        Refusal_case{"EnforceAllowed", Access_mode::kEnforce, Decision::allowed, true, ""},
        Refusal_case{"EnforceDenied",
                     Access_mode::kEnforce,
                     Decision::denied,
                     false,
                     "com: access denied: pid 5100 (uid 1000, gid 1000) may not use tarn1::test::Echo instance gate"},
        Refusal_case{"EnforceErrorAnswer",
                     Access_mode::kEnforce,
                     Decision::error,
                     false,
                     "com: access denied: pid 5100 (uid 1000, gid 1000) may not use tarn1::test::Echo instance gate"
                     " (the IAM daemon answered error)"},
        Refusal_case{"EnforceNoAnswer",
                     Access_mode::kEnforce,
                     std::nullopt,
                     false,
                     "com: access denied: pid 5100 (uid 1000, gid 1000) may not use tarn1::test::Echo instance gate"
                     " (no answer from the IAM daemon)"},
        Refusal_case{"AuditDenied",
                     Access_mode::kAudit,
                     Decision::denied,
                     true,
                     "com: access denied (audit mode, allowed anyway): pid 5100 (uid 1000, gid 1000) may not use "
                     "tarn1::test::Echo instance gate"},
        Refusal_case{"AuditNoAnswer",
                     Access_mode::kAudit,
                     std::nullopt,
                     true,
                     "com: access denied (audit mode, allowed anyway): pid 5100 (uid 1000, gid 1000) may not use "
                     "tarn1::test::Echo instance gate (no answer from the IAM daemon)"}),
    [](const ::testing::TestParamInfo<Refusal_case>& param) { return param.param.name; });

TEST_F(Access_gate_test, DeniedMethodIsLoggedByItsIdAndOtherMethodsStillPass)
{
    make_gate(Access_mode::kEnforce, 5200);

    sut->submit(frame(Message_type::kRequest, 2, 1));
    answer(Decision::allowed);
    answer(Decision::denied);
    sut->submit(frame(Message_type::kRequest, 0, 2));
    answer(Decision::allowed);

    EXPECT_EQ(m_delivered,
              (std::vector<Delivered>{{Message_type::kRequest, 1, false}, {Message_type::kRequest, 2, true}}));
    EXPECT_EQ(m_log.texts(ara::log::LogLevel::kWarn),
              std::vector<std::string>{"com: access denied: pid 5200 (uid 1000, gid 1000) may not call method 2 of "
                                       "tarn1::test::Echo instance gate"});
}

TEST_F(Access_gate_test, RepeatedRefusalsOfOnePeerAndResourceAreLoggedOnce)
{
    make_gate(Access_mode::kEnforce, 5300);

    sut->submit(frame(Message_type::kSubscribe, 4, 0));
    answer(Decision::allowed);
    answer(Decision::denied);
    for (std::uint16_t i = 0; i < 5; ++i)
    {
        sut->submit(frame(Message_type::kSubscribe, 4, 0));
    }

    EXPECT_EQ(m_delivered.size(), 6U);
    EXPECT_EQ(m_asked.size(), 2U);
    EXPECT_EQ(m_log.texts(ara::log::LogLevel::kWarn),
              std::vector<std::string>{"com: access denied: pid 5300 (uid 1000, gid 1000) may not subscribe to event "
                                       "4 of tarn1::test::Echo instance gate"});
}

TEST_F(Access_gate_test, RefusalsOfTwoProcessesOfOneUserAreLoggedOnce)
{
    const auto control = std::make_shared<Access_control>(Access_mode::kEnforce, 200ms, m_iam);
    const auto first = gate(control, Peer_identity{5500, 99, 1000, 1000});
    const auto second = gate(control, Peer_identity{5501, 99, 1000, 1000});

    first->submit(frame(Message_type::kRequest, 0, 1));
    answer(Decision::denied);
    second->submit(frame(Message_type::kRequest, 0, 2));
    answer(Decision::denied);

    EXPECT_EQ(m_delivered,
              (std::vector<Delivered>{{Message_type::kRequest, 1, false}, {Message_type::kRequest, 2, false}}));
    EXPECT_EQ(m_log.texts(ara::log::LogLevel::kWarn),
              std::vector<std::string>{"com: access denied: pid 5500 (uid 1000, gid 1000) may not use "
                                       "tarn1::test::Echo instance gate"});
}

TEST_F(Access_gate_test, PeerWhoseProcessHasEndedIsRefusedWithoutAskingTheDaemon)
{
    make_gate(Access_mode::kEnforce, 5400, false);

    sut->submit(frame(Message_type::kRequest, 0, 1));

    EXPECT_EQ(m_delivered, (std::vector<Delivered>{{Message_type::kRequest, 1, false}}));
    EXPECT_TRUE(m_asked.empty());
    EXPECT_EQ(m_log.texts(ara::log::LogLevel::kWarn),
              std::vector<std::string>{"com: access denied: pid 5400 (uid 1000, gid 1000) may not use "
                                       "tarn1::test::Echo instance gate (the process has ended)"});
}

struct Offer_case
{
    const char* name;
    Access_mode mode;
    std::optional<Decision> answer;
    bool offers;
};

void PrintTo(const Offer_case& param, std::ostream* out)
{
    *out << param.name;
}

class Access_control_offer_test : public ::testing::TestWithParam<Offer_case>
{
};

TEST_P(Access_control_offer_test, OfferGoesAheadOnlyWhenAllowedOrAudited)
{
    auto iam = std::make_shared<NiceMock<tarn1::testing::Mock_iam_client>>();
    std::optional<vela::iam::Check_request_posix> asked;
    ON_CALL(*iam, check_now(_, _))
        .WillByDefault(
            [&](const vela::iam::Check_request_posix& request, std::chrono::milliseconds)
            {
                asked = request;
                return GetParam().answer;
            });
    Access_control sut(GetParam().mode, 200ms, iam);

    bool offered = true;
    try
    {
        sut.check_offer(Port_names{"tarn1::test::Echo", "offer", 0x153d});
    }
    catch (const kest::com::Access_denied_exception&)
    {
        offered = false;
    }

    EXPECT_EQ(offered, GetParam().offers);
    ASSERT_TRUE(asked.has_value());
    EXPECT_EQ(asked->service.operation, Operation::Provide_service);
    EXPECT_EQ(asked->identifier.pid, ::getpid());
    EXPECT_EQ(asked->identifier.uid, ::geteuid());
}

INSTANTIATE_TEST_SUITE_P(Access_control_offer_test,
                         Access_control_offer_test,
                         ::testing::Values(Offer_case{"Allowed", Access_mode::kEnforce, Decision::allowed, true},
                                           Offer_case{"Denied", Access_mode::kEnforce, Decision::denied, false},
                                           Offer_case{"ErrorAnswer", Access_mode::kEnforce, Decision::error, false},
                                           Offer_case{"NoAnswer", Access_mode::kEnforce, std::nullopt, false},
                                           Offer_case{"AuditDenied", Access_mode::kAudit, Decision::denied, true}),
                         [](const ::testing::TestParamInfo<Offer_case>& param) { return param.param.name; });

} // namespace
