#include "policy_decision_point_if/policy_decision_point.h"
#include "testbed/support/temp_dir.hpp"

#include <gtest/gtest.h>

namespace policy_decision_point_if
{
namespace
{

const char* const example_policy = "# local processes\n"
                                   "allow platform - SOMEIP * *\n"
                                   "deny  app - SOMEIP 1234 send_offer\n"
                                   "allow app - SOMEIP 12* *\n"
                                   "# remote peers\n"
                                   "allow - [10.0.0.*]:* SOMEIP 1234 recv_find\n"
                                   "allow - [fe80::*%eth0]:30501 SOMEIP * 0*\n"
                                   "bogus line\n";

struct Check_case
{
    const char* name;
    const char* identity;
    const char* endpoint;
    const char* resource;
    const char* operation;
    PolicyDecision expected;
};

class PolicyDecisionPoint_test : public ::testing::TestWithParam<Check_case>
{
  protected:
    tarn1::testing::Temp_dir m_dir;
};

TEST_P(PolicyDecisionPoint_test, FirstMatchingRuleDecidesAndNoMatchDenies)
{
    PolicyDecisionPoint sut(m_dir.write_file("policy.conf", example_policy));
    const auto& param = GetParam();

    EXPECT_EQ(sut.CheckPolicy(param.identity, param.endpoint, "SOMEIP", param.resource, param.operation),
              param.expected);
}

INSTANTIATE_TEST_SUITE_P(
    PolicyDecisionPoint_test,
    PolicyDecisionPoint_test,
    ::testing::Values(
        Check_case{"PlatformAnything", "platform", "", "ffff", "send_offer", PolicyDecision::kAllowed},
        Check_case{"EarlierDenyWins", "app", "", "1234", "send_offer", PolicyDecision::kDenied},
        Check_case{"PrefixPattern", "app", "", "12ab", "0001", PolicyDecision::kAllowed},
        Check_case{"NoMatchDenies", "app", "", "4321", "send_find", PolicyDecision::kDenied},
        Check_case{"UnknownIdentityDenied", "stranger", "", "1234", "send_find", PolicyDecision::kDenied},
        Check_case{"PeerInRange", "", "[10.0.0.5]:30501", "1234", "recv_find", PolicyDecision::kAllowed},
        Check_case{"PeerOutOfRange", "", "[10.0.1.5]:30501", "1234", "recv_find", PolicyDecision::kDenied},
        Check_case{"LinkLocalPeerWithScope", "", "[fe80::1%eth0]:30501", "0042", "0007", PolicyDecision::kAllowed},
        Check_case{"LinkLocalPeerOtherPort", "", "[fe80::1%eth0]:30502", "0042", "0007", PolicyDecision::kDenied},
        Check_case{
            "BothIdentityAndEndpoint", "app", "[10.0.0.5]:1", "1234", "recv_find", PolicyDecision::kInvalidQuery},
        Check_case{"NeitherIdentityNorEndpoint", "", "", "1234", "recv_find", PolicyDecision::kInvalidQuery},
        Check_case{"EmptyResource", "app", "", "", "send_find", PolicyDecision::kInvalidQuery}),
    [](const ::testing::TestParamInfo<Check_case>& param) { return param.param.name; });

TEST(PolicyDecisionPoint_file_test, MissingPolicyFileIsAConnectionFailure)
{
    tarn1::testing::Temp_dir dir;
    PolicyDecisionPoint sut(dir.file("absent.conf"));

    EXPECT_EQ(sut.CheckPolicy("app", "", "SOMEIP", "1234", "send_find"), PolicyDecision::kConnectionFailed);
}

TEST(PolicyDecisionPoint_file_test, EmptyPolicyDeniesEverything)
{
    tarn1::testing::Temp_dir dir;
    PolicyDecisionPoint sut(dir.write_file("policy.conf", "# nothing allowed\n"));

    EXPECT_EQ(sut.CheckPolicy("app", "", "SOMEIP", "1234", "send_find"), PolicyDecision::kDenied);
}

} // namespace
} // namespace policy_decision_point_if
