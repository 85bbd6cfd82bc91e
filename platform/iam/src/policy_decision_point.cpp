#include "policy_decision_point_if/policy_decision_point.h"

#include "ara/log/logging.h"
#include "rules_file.hpp"

#include <array>
#include <fstream>
#include <vector>

namespace policy_decision_point_if
{

struct Policy_rule
{
    bool allow{false};
    /// identity, endpoint, protocol, resource, operation
    std::array<std::string, 5> patterns;
};

struct Policy_table
{
    bool readable{false};
    std::vector<Policy_rule> rules;
};

namespace
{

ara::log::Logger& pdp_logger()
{
    return ara::log::CreateLogger("PDP", "policy decision point stand-in");
}

std::shared_ptr<const Policy_table> load_policy(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
    {
        pdp_logger().LogError() << "cannot read policy file " << path << "; every check fails";
        return std::make_shared<Policy_table>();
    }
    return PolicyDecisionPoint::parse_policy(file, path);
}

tarn1::platform_iam::Table_cache<Policy_table>& cache()
{
    static tarn1::platform_iam::Table_cache<Policy_table> instance;
    return instance;
}

} // namespace

PolicyDecisionPoint::PolicyDecisionPoint()
    : PolicyDecisionPoint(tarn1::platform_iam::path_from_environment(s_policy_path_variable, s_default_policy_path))
{
}

PolicyDecisionPoint::PolicyDecisionPoint(const std::string& policyPath)
    : m_policy(cache().get(policyPath, load_policy))
{
}

PolicyDecisionPoint::PolicyDecisionPoint(std::shared_ptr<const Policy_table> policy)
    : m_policy(std::move(policy))
{
}

PolicyDecisionPoint::~PolicyDecisionPoint() = default;

std::shared_ptr<const Policy_table> PolicyDecisionPoint::parse_policy(std::istream& text, const std::string& source)
{
    auto table = std::make_shared<Policy_table>();
    table->readable = true;
    std::vector<tarn1::platform_iam::Rules_line> lines;
    tarn1::platform_iam::read_rules_lines(text, lines);
    for (const auto& line : lines)
    {
        if (line.fields.size() != 6 || (line.fields[0] != "allow" && line.fields[0] != "deny"))
        {
            pdp_logger().LogWarn()
                << source << ":" << static_cast<std::uint64_t>(line.number)
                << ": expected \"<allow|deny> <identity> <endpoint> <protocol> <resource> <operation>\"; line ignored";
            continue;
        }
        Policy_rule rule;
        rule.allow = line.fields[0] == "allow";
        for (std::size_t index = 0; index < rule.patterns.size(); ++index)
        {
            const auto& field = line.fields[index + 1];
            rule.patterns[index] = field == "-" ? std::string() : field;
        }
        table->rules.push_back(std::move(rule));
    }
    pdp_logger().LogInfo() << "read " << static_cast<std::uint64_t>(table->rules.size()) << " policy rules from "
                           << source;
    return table;
}

PolicyDecision PolicyDecisionPoint::CheckPolicy(const std::string& identity,
                                                const std::string& endpoint,
                                                const std::string& protocol,
                                                const std::string& resource,
                                                const std::string& operation)
{
    if (identity.empty() == endpoint.empty() || protocol.empty() || resource.empty() || operation.empty())
    {
        return PolicyDecision::kInvalidQuery;
    }
    if (!m_policy->readable)
    {
        return PolicyDecision::kConnectionFailed;
    }
    const std::array<const std::string*, 5> query{&identity, &endpoint, &protocol, &resource, &operation};
    for (const auto& rule : m_policy->rules)
    {
        bool matches = true;
        for (std::size_t index = 0; matches && index < query.size(); ++index)
        {
            matches = tarn1::platform_iam::glob_match(rule.patterns[index], *query[index]);
        }
        if (matches)
        {
            return rule.allow ? PolicyDecision::kAllowed : PolicyDecision::kDenied;
        }
    }
    return PolicyDecision::kDenied;
}

} // namespace policy_decision_point_if
