#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>

namespace policy_decision_point_if
{

/// Result of a policy check.
enum class PolicyDecision : std::uint8_t
{
    kAllowed = 0,
    kDenied = 1,
    kConnectionFailed = 2,
    kInvalidQuery = 3
};

struct Policy_table;

/// Client of the platform's policy decision point.
///
/// Stand-in: the policy comes from a file, read when the client is constructed (and read again
/// only when the file has changed). Location: $TARN1_IAM_POLICY, else /etc/tarn1/iam/policy.conf.
/// One rule a line, "<allow|deny> <identity> <endpoint> <protocol> <resource> <operation>";
/// a field is a pattern where "*" matches any run of characters and "-" alone stands for the
/// empty text; '#' starts a comment. The first matching rule decides; no match denies.
class PolicyDecisionPoint
{
  public:
    static constexpr const char* s_default_policy_path = "/etc/tarn1/iam/policy.conf";
    static constexpr const char* s_policy_path_variable = "TARN1_IAM_POLICY";

    PolicyDecisionPoint();
    /// Reads the policy from this file instead.
    explicit PolicyDecisionPoint(const std::string& policyPath);
    /// Decides by a policy already read (parse_policy).
    explicit PolicyDecisionPoint(std::shared_ptr<const Policy_table> policy);
    ~PolicyDecisionPoint();

    PolicyDecisionPoint(const PolicyDecisionPoint&) = delete;
    PolicyDecisionPoint& operator=(const PolicyDecisionPoint&) = delete;

    /// Decides whether identity (local process) or endpoint (remote peer) may perform operation
    /// on resource over protocol. kInvalidQuery unless exactly one of identity and endpoint is
    /// given and protocol, resource and operation are not empty; kConnectionFailed when the
    /// policy file could not be read.
    PolicyDecision CheckPolicy(const std::string& identity,
                               const std::string& endpoint,
                               const std::string& protocol,
                               const std::string& resource,
                               const std::string& operation);

    /// The rules of a text in the policy file's form; source names it in the warnings about
    /// malformed lines. What the client does with its file's content.
    static std::shared_ptr<const Policy_table> parse_policy(std::istream& text, const std::string& source);

  private:
    std::shared_ptr<const Policy_table> m_policy;
};

} // namespace policy_decision_point_if
