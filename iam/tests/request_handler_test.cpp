#include "ara/log/testing/log_capture.h"
#include "iam/iam_exception.hpp"
#include "iam/request_handler.hpp"
#include "iam/tests/mocks/mock_iam_clients.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vela::iam
{
namespace
{

using ::testing::_;
using ::testing::DoAll;
using testing::Fake_clients_factory;
using ::testing::Return;
using ::testing::SetArgReferee;

Check_requestT<Check_request_posix> posix_request(Operation operation, std::uint32_t service_id, std::uint16_t member)
{
    Check_request_posix request;
    request.identifier = identifier::Identifier_posix{4321, 1000, 2000};
    request.service = iam_internal_if::Service_someip_ifc{service_id, member, operation};
    return Check_requestT<Check_request_posix>(request);
}

Check_requestT<Check_request_tcpip> tcpip_request(Operation operation,
                                                  std::uint32_t service_id,
                                                  std::uint16_t member,
                                                  const std::string& address = "10.0.0.5",
                                                  std::uint16_t port = 30501)
{
    Check_request_tcpip request;
    request.identifier.address = asio::ip::make_address(address);
    request.identifier.port = port;
    request.service = iam_internal_if::Service_someip_ifc{service_id, member, operation};
    return Check_requestT<Check_request_tcpip>(request);
}

/// A request of a transport the handler does not know.
class Unknown_transport_request final : public Check_request
{
  public:
    std::any request() const override { return {}; }
    Transport transport() const override { return Transport::unknown; }
    const char* transport_name() const override { return transport_unknown_name; }
};

class Request_handler_test : public ::testing::Test
{
  protected:
    void alias_answers(Alias_query_status status, std::vector<std::string> domains)
    {
        ON_CALL(m_factory.alias(), AliasQuery(_, _, _, _))
            .WillByDefault(DoAll(SetArgReferee<3>(std::move(domains)), Return(status)));
    }

    void policy_answers(Policy_result result)
    {
        ON_CALL(m_factory.policy(), CheckPolicy(_, _, _, _, _)).WillByDefault(Return(result));
    }

    std::string refusal_of(const Check_request& request)
    {
        try
        {
            (void)sut.handle(request);
        }
        catch (const Tarn1_iam_exception& error)
        {
            return error.what();
        }
        return "no refusal";
    }

    ara::log::testing::Log_capture m_capture;
    Fake_clients_factory m_factory;
    Request_handler sut{m_factory};
};

struct Query_case
{
    const char* name;
    bool posix;
    Operation operation;
    std::uint32_t service_id;
    std::uint16_t member_id;
    const char* identity;
    const char* endpoint;
    const char* resource;
    const char* operation_id;
};

class Request_handler_query_test : public Request_handler_test, public ::testing::WithParamInterface<Query_case>
{
};

TEST_P(Request_handler_query_test, PolicyDecisionPointReceivesTheFiveArguments)
{
    const auto& param = GetParam();
    alias_answers(Alias_query_status::eSuccess, {"app_domain"});
    EXPECT_CALL(m_factory.policy(),
                CheckPolicy(param.identity, param.endpoint, "SOMEIP", param.resource, param.operation_id))
        .WillOnce(Return(Policy_result::kAllowed));

    const auto response = param.posix ? sut.handle(posix_request(param.operation, param.service_id, param.member_id))
                                      : sut.handle(tcpip_request(param.operation, param.service_id, param.member_id));

    EXPECT_EQ(response.decision, Decision::allowed);
}

INSTANTIATE_TEST_SUITE_P(
    Request_handler_test,
    Request_handler_query_test,
    ::testing::Values(
        Query_case{"EgressOffer", true, Operation::Provide_service, 0x1234, 9, "app_domain", "", "1234", "send_offer"},
        Query_case{"EgressFind", true, Operation::Use_service, 0x1234, 9, "app_domain", "", "1234", "send_find"},
        Query_case{"EgressCall", true, Operation::Call_method, 4660, 1, "app_domain", "", "1234", "0001"},
        Query_case{"EgressSubscribe", true, Operation::Subscribe_event, 26, 0x8001, "app_domain", "", "001a", "8001"},
        Query_case{"EgressServiceAbove16Bits",
                   true,
                   Operation::Use_service,
                   0x1a2b3,
                   0,
                   "app_domain",
                   "",
                   "1a2b3",
                   "send_find"},
        Query_case{
            "IngressOffer", false, Operation::Provide_service, 0x1234, 9, "", "[10.0.0.5]:30501", "1234", "recv_offer"},
        Query_case{
            "IngressFind", false, Operation::Use_service, 0xffff, 9, "", "[10.0.0.5]:30501", "ffff", "recv_find"},
        Query_case{"IngressCall", false, Operation::Call_method, 1, 0xabc, "", "[10.0.0.5]:30501", "0001", "0abc"},
        Query_case{"IngressSubscribe",
                   false,
                   Operation::Subscribe_event,
                   0xfffffff0,
                   1,
                   "",
                   "[10.0.0.5]:30501",
                   "fffffff0",
                   "0001"}),
    [](const ::testing::TestParamInfo<Query_case>& param) { return param.param.name; });

TEST_F(Request_handler_test, Ipv6PeerWithNumericScopeIsNamedWithItsScope)
{
    EXPECT_CALL(m_factory.policy(), CheckPolicy("", "[2001:db8::7%5]:40000", "SOMEIP", "0042", "recv_find"))
        .WillOnce(Return(Policy_result::kDenied));

    const auto response = sut.handle(tcpip_request(Operation::Use_service, 0x42, 0, "2001:db8::7%5", 40000));

    EXPECT_EQ(response.decision, Decision::denied);
}

struct Policy_result_case
{
    const char* name;
    std::uint8_t result;
    Decision decision;
};

class Request_handler_result_test : public Request_handler_test,
                                    public ::testing::WithParamInterface<Policy_result_case>
{
};

TEST_P(Request_handler_result_test, PolicyResultBecomesTheDecision)
{
    alias_answers(Alias_query_status::eSuccess, {"app_domain"});
    policy_answers(static_cast<Policy_result>(GetParam().result));

    EXPECT_EQ(sut.handle(posix_request(Operation::Use_service, 1, 0)).decision, GetParam().decision);
    EXPECT_EQ(sut.handle(tcpip_request(Operation::Use_service, 1, 0)).decision, GetParam().decision);
}

INSTANTIATE_TEST_SUITE_P(Request_handler_test,
                         Request_handler_result_test,
                         ::testing::Values(Policy_result_case{"Allowed", 0, Decision::allowed},
                                           Policy_result_case{"Denied", 1, Decision::denied},
                                           Policy_result_case{"UnknownFour", 4, Decision::denied},
                                           Policy_result_case{"Unknown255", 255, Decision::denied}),
                         [](const ::testing::TestParamInfo<Policy_result_case>& param) { return param.param.name; });

struct Refusal_case
{
    const char* name;
    bool posix;
    int operation;
    std::uint8_t alias_status;
    std::vector<std::string> domains;
    std::uint8_t policy_result;
    const char* message;
};

class Request_handler_refusal_test : public Request_handler_test, public ::testing::WithParamInterface<Refusal_case>
{
};

TEST_P(Request_handler_refusal_test, RefusalNamesItsCause)
{
    const auto& param = GetParam();
    alias_answers(static_cast<Alias_query_status>(param.alias_status), param.domains);
    policy_answers(static_cast<Policy_result>(param.policy_result));
    const auto operation = static_cast<Operation>(param.operation);

    const std::string message =
        param.posix ? refusal_of(posix_request(operation, 0x1234, 1)) : refusal_of(tcpip_request(operation, 0x1234, 1));

    EXPECT_EQ(message, param.message);
}

const std::vector<std::string> one_domain{"app_domain"};

INSTANTIATE_TEST_SUITE_P(
    Request_handler_test,
    Request_handler_refusal_test,
    ::testing::Values(
        Refusal_case{
            "EgressOperationSeven", true, 7, 0, one_domain, 0, "unsupported operation for egress communication"},
        Refusal_case{
            "EgressNegativeOperation", true, -1, 0, one_domain, 0, "unsupported operation for egress communication"},
        Refusal_case{
            "IngressOperationSeven", false, 7, 0, one_domain, 0, "unsupported operation for ingress communication"},
        Refusal_case{
            "AliasInvalidRequest", true, 1, 1, one_domain, 0, "AliasQueryClient::EAliasQueryStatus::eInvalidRequest"},
        Refusal_case{"AliasSocketClosed",
                     true,
                     1,
                     2,
                     one_domain,
                     0,
                     "AliasQueryClient::EAliasQueryStatus::eErrorOrSocketClosed"},
        Refusal_case{"NoDomain", true, 1, 0, {}, 0, "no domain found for gid: 2000, uid: 1000, pid: 4321"},
        Refusal_case{
            "TwoDomains", true, 1, 0, {"a", "b"}, 0, "more then one domain found for gid: 2000, uid: 1000, pid: 4321"},
        Refusal_case{"EgressConnectionFailed", true, 1, 0, one_domain, 2, "PolicyDecision::kConnectionFailed"},
        Refusal_case{"EgressInvalidQuery", true, 1, 0, one_domain, 3, "PolicyDecision::kInvalidQuery"},
        Refusal_case{"IngressConnectionFailed", false, 1, 0, one_domain, 2, "PolicyDecision::kConnectionFailed"},
        Refusal_case{"IngressInvalidQuery", false, 1, 0, one_domain, 3, "PolicyDecision::kInvalidQuery"}),
    [](const ::testing::TestParamInfo<Refusal_case>& param) { return param.param.name; });

TEST_F(Request_handler_test, AliasStatusOtherThanOneOrTwoCountsAsSuccess)
{
    alias_answers(static_cast<Alias_query_status>(9), {"app_domain"});
    policy_answers(Policy_result::kAllowed);

    EXPECT_EQ(sut.handle(posix_request(Operation::Use_service, 1, 0)).decision, Decision::allowed);
}

TEST_F(Request_handler_test, UnknownTransportIsABadRequest)
{
    EXPECT_EQ(refusal_of(Unknown_transport_request{}), "ingress/egress handling problem: bad request");
}

TEST_F(Request_handler_test, RefusedOperationAsksNeitherService)
{
    EXPECT_CALL(m_factory.alias(), AliasQuery(_, _, _, _)).Times(0);
    EXPECT_CALL(m_factory.policy(), CheckPolicy(_, _, _, _, _)).Times(0);

    (void)refusal_of(posix_request(static_cast<Operation>(4), 1, 0));
}

TEST_F(Request_handler_test, EgressLogsEachStepAtDebugLevel)
{
    alias_answers(Alias_query_status::eSuccess, {"app_domain"});
    policy_answers(Policy_result::kAllowed);

    (void)sut.handle(posix_request(Operation::Call_method, 4660, 1));

    const auto texts = m_capture.texts(ara::log::LogLevel::kDebug);
    ASSERT_EQ(texts.size(), 4U);
    EXPECT_EQ(texts[0], "Request_handler: Posix request. Call alias_query. Uid: 1000, pid: 4321, gid: 2000");
    EXPECT_THAT(texts[1], ::testing::MatchesRegex("Request_handler: Posix request. alias_query handled in [0-9]+ ms"));
    EXPECT_EQ(texts[2],
              "Request_handler: Posix request. Call policy_decision_proxy.check. Operation: Call_method, identity: "
              "app_domain, resource: 4660 -> 1234, operation id: 0001");
    EXPECT_THAT(texts[3],
                ::testing::MatchesRegex("Request_handler: Posix request. Policy_decision_proxy.check handled in "
                                        "[0-9]+ ms, decision: allowed"));
}

TEST_F(Request_handler_test, IngressLogsEachStepAtDebugLevel)
{
    policy_answers(Policy_result::kDenied);

    (void)sut.handle(tcpip_request(Operation::Provide_service, 0x1a2b3, 0));

    const auto texts = m_capture.texts(ara::log::LogLevel::kDebug);
    ASSERT_EQ(texts.size(), 2U);
    EXPECT_EQ(texts[0],
              "Request_handler: Tcpip request. Call policy_decision_proxy.check. Operation: Provide_service, domain: "
              "[10.0.0.5]:30501, resource: 107187 -> 1a2b3, operation id: recv_offer");
    EXPECT_THAT(texts[1],
                ::testing::MatchesRegex("Request_handler: Tcpip request handled in [0-9]+ms, decision: denied"));
}

struct Hex_case
{
    const char* name;
    std::uint32_t value;
    bool sixteen_bits;
    const char* text;
};

class Int_to_hex_test : public ::testing::TestWithParam<Hex_case>
{
};

TEST_P(Int_to_hex_test, PadsToFourLowerCaseDigitsAndKeepsLongerValues)
{
    const auto& param = GetParam();

    const std::string text =
        param.sixteen_bits ? int_to_hex(static_cast<std::uint16_t>(param.value)) : int_to_hex(param.value);

    EXPECT_EQ(text, param.text);
}

INSTANTIATE_TEST_SUITE_P(Request_handler_test,
                         Int_to_hex_test,
                         ::testing::Values(Hex_case{"Zero16", 0, true, "0000"},
                                           Hex_case{"TwentySix16", 26, true, "001a"},
                                           Hex_case{"Max16", 0xffff, true, "ffff"},
                                           Hex_case{"Zero32", 0, false, "0000"},
                                           Hex_case{"LowerCase32", 0xABCD, false, "abcd"},
                                           Hex_case{"FiveDigits32", 0x10000, false, "10000"},
                                           Hex_case{"Max32", 0xffffffff, false, "ffffffff"}),
                         [](const ::testing::TestParamInfo<Hex_case>& param) { return param.param.name; });

} // namespace
} // namespace vela::iam
