// Fuzz target: the alias rules and policy files of the IAM stand-ins, and the pattern matching
// of the policy. The same text is read as both kinds of file; lines of the other form are
// skipped as malformed.
//
// Beyond what the sanitizers catch, an input is a finding when
// - a query answered from the rules gives a domain that no rules line could hold (empty, or
//   with a blank or a comment sign), or a valid policy query is answered other than allowed
//   or denied;
// - the pattern matcher disagrees with a plain reference matcher on any two fields of the text.

#include "alias_manager/alias_query_client.h"
#include "platform/iam/src/rules_file.hpp"
#include "policy_decision_point_if/policy_decision_point.h"
#include "tests/fuzz/fuzz_target.hpp"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using alias_manager::AliasQueryClient;
using policy_decision_point_if::PolicyDecision;
using policy_decision_point_if::PolicyDecisionPoint;
using tarn1::fuzz::finding;

/// Whether text matches pattern, '*' matching any run of characters: the table of every prefix
/// pair, too slow for the daemon but plainly right.
bool reference_match(const std::string& pattern, const std::string& text)
{
    // matched[t]: the pattern's characters so far match the text's first t characters
    std::vector<unsigned char> matched(text.size() + 1, 0);
    std::vector<unsigned char> next(text.size() + 1, 0);
    matched[0] = 1;
    for (const char symbol : pattern)
    {
        next[0] = symbol == '*' ? matched[0] : 0;
        for (std::size_t t = 1; t <= text.size(); ++t)
        {
            next[t] = symbol == '*' ? (matched[t] | next[t - 1]) : (matched[t - 1] & (text[t - 1] == symbol ? 1 : 0));
        }
        matched.swap(next);
    }
    return matched[text.size()] != 0;
}

bool holdable_in_a_field(const std::string& text)
{
    return !text.empty() && text.find('#') == std::string::npos &&
           std::none_of(text.begin(), text.end(), [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
}

/// Fields of the text, as many as keep the reference matcher quick.
std::vector<std::string> some_fields(const std::string& text)
{
    std::istringstream stream(text);
    std::vector<tarn1::platform_iam::Rules_line> lines;
    tarn1::platform_iam::read_rules_lines(stream, lines);
    std::vector<std::string> fields;
    for (const auto& line : lines)
    {
        for (const auto& field : line.fields)
        {
            if (fields.size() == 8)
            {
                return fields;
            }
            fields.push_back(field.substr(0, 64));
        }
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    std::istringstream alias_text(text);
    AliasQueryClient alias(AliasQueryClient::parse_rules(alias_text, "fuzz input"));
    std::istringstream policy_text(text);
    PolicyDecisionPoint policy(PolicyDecisionPoint::parse_policy(policy_text, "fuzz input"));

    // A few processes, and the domains they are given as identities to check.
    std::vector<std::string> identities{"app", "*"};
    const struct
    {
        std::uint32_t uid;
        std::int32_t pid;
        std::uint32_t gid;
    } processes[] = {{0, 0, 0}, {1000, 4242, 1000}, {4294967295U, 2147483647, 4294967295U}};
    for (const auto& process : processes)
    {
        std::vector<std::string> domains;
        if (alias.AliasQuery(process.uid, process.pid, process.gid, domains) !=
            AliasQueryClient::EAliasQueryStatus::eSuccess)
        {
            finding("a query of readable alias rules fails");
        }
        for (const auto& domain : domains)
        {
            if (!holdable_in_a_field(domain))
            {
                finding("an alias query gives a domain that no rules line can hold");
            }
        }
        const auto kept = std::min<std::ptrdiff_t>(4, static_cast<std::ptrdiff_t>(domains.size()));
        identities.insert(identities.end(), domains.begin(), domains.begin() + kept);
    }
    for (const auto& identity : identities)
    {
        const auto local = policy.CheckPolicy(identity, "", "SOMEIP", "1234", "send_offer");
        const auto remote = policy.CheckPolicy("", "[10.0.0.5]:30501", "SOMEIP", "1234", identity);
        for (const auto decision : {local, remote})
        {
            if (decision != PolicyDecision::kAllowed && decision != PolicyDecision::kDenied)
            {
                finding("a valid query of a readable policy is answered neither allowed nor denied");
            }
        }
    }

    const auto fields = some_fields(text);
    for (const auto& pattern : fields)
    {
        for (const auto& subject : fields)
        {
            if (tarn1::platform_iam::glob_match(pattern, subject) != reference_match(pattern, subject))
            {
                finding("the pattern matcher disagrees with the reference matcher");
            }
        }
    }
    return 0;
}
