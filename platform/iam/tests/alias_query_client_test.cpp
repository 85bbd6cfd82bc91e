#include "alias_manager/alias_query_client.h"
#include "testbed/support/temp_dir.hpp"

#include <cstdlib>
#include <gtest/gtest.h>

namespace alias_manager
{
namespace
{

using Status = AliasQueryClient::EAliasQueryStatus;

class AliasQueryClient_test : public ::testing::Test
{
  protected:
    std::string write_rules(const std::string& content) { return m_dir.write_file("alias_rules.conf", content); }

    tarn1::testing::Temp_dir m_dir;
};

struct Lookup_case
{
    const char* name;
    std::uint32_t uid;
    std::int32_t pid;
    std::uint32_t gid;
    std::vector<std::string> domains;
};

class AliasQueryClient_lookup_test : public AliasQueryClient_test, public ::testing::WithParamInterface<Lookup_case>
{
};

TEST_P(AliasQueryClient_lookup_test, MatchingRulesGiveTheirDomainsInFileOrder)
{
    AliasQueryClient sut(write_rules("# comment\n"
                                     "0 0 * root   # trailing comment\n"
                                     "\n"
                                     "1000 1000 * app\n"
                                     "1001 * * diag\n"
                                     "1002 5 77 one_process\n"
                                     "1002 * * all_of_1002\n"
                                     "not a rule\n"
                                     "1003 x * broken\n"));
    std::vector<std::string> domains;

    const auto status = sut.AliasQuery(GetParam().uid, GetParam().pid, GetParam().gid, domains);

    EXPECT_EQ(status, Status::eSuccess);
    EXPECT_EQ(domains, GetParam().domains);
}

INSTANTIATE_TEST_SUITE_P(
    AliasQueryClient_test,
    AliasQueryClient_lookup_test,
    ::testing::Values(Lookup_case{"Root", 0, 1, 0, {"root"}},
                      Lookup_case{"UidAndGid", 1000, 55, 1000, {"app"}},
                      Lookup_case{"GidMismatch", 1000, 55, 1001, {}},
                      Lookup_case{"AnyGid", 1001, 55, 42, {"diag"}},
                      Lookup_case{"PidRuleAndWildcardBothMatch", 1002, 77, 5, {"one_process", "all_of_1002"}},
                      Lookup_case{"OtherPid", 1002, 78, 5, {"all_of_1002"}},
                      Lookup_case{"MalformedLinesIgnored", 1003, 1, 1, {}}),
    [](const ::testing::TestParamInfo<Lookup_case>& param) { return param.param.name; });

TEST_F(AliasQueryClient_test, MissingRulesFileFailsEveryQuery)
{
    AliasQueryClient sut(m_dir.file("absent.conf"));
    std::vector<std::string> domains;

    EXPECT_EQ(sut.AliasQuery(0, 1, 0, domains), Status::eErrorOrSocketClosed);
}

TEST_F(AliasQueryClient_test, NegativePidIsAnInvalidRequest)
{
    AliasQueryClient sut(write_rules("* * * any\n"));
    std::vector<std::string> domains;

    EXPECT_EQ(sut.AliasQuery(0, -1, 0, domains), Status::eInvalidRequest);
}

TEST_F(AliasQueryClient_test, ChangedFileIsReadByTheNextClientOnly)
{
    const auto path = write_rules("* * * before\n");
    AliasQueryClient earlier(path);
    write_rules("* * * after_change\n");
    AliasQueryClient later(path);
    std::vector<std::string> earlier_domains;
    std::vector<std::string> later_domains;

    (void)earlier.AliasQuery(1, 1, 1, earlier_domains);
    (void)later.AliasQuery(1, 1, 1, later_domains);

    EXPECT_EQ(earlier_domains, std::vector<std::string>{"before"});
    EXPECT_EQ(later_domains, std::vector<std::string>{"after_change"});
}

TEST_F(AliasQueryClient_test, EnvironmentVariableNamesTheRulesFile)
{
    ::setenv(AliasQueryClient::s_rules_path_variable, write_rules("* * * from_env\n").c_str(), 1);
    AliasQueryClient sut;
    ::unsetenv(AliasQueryClient::s_rules_path_variable);
    std::vector<std::string> domains;

    (void)sut.AliasQuery(5, 5, 5, domains);

    EXPECT_EQ(domains, std::vector<std::string>{"from_env"});
}

} // namespace
} // namespace alias_manager
