#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

namespace alias_manager
{

struct Alias_rule_table;

/// Client of the platform's alias query service: which identity domains a local process
/// (user, process and group id) belongs to.
///
/// Stand-in: the domains come from a rules file, read when the client is constructed (and
/// read again only when the file has changed since it was last read). Location:
/// $TARN1_IAM_ALIAS_RULES, else /etc/tarn1/iam/alias_rules.conf. One rule a line,
/// "<uid> <gid> <pid> <domain>", where "*" in a number column matches any value; '#' starts a
/// comment. Every matching rule adds its domain, in file order.
class AliasQueryClient
{
  public:
    enum class EAliasQueryStatus : std::uint8_t
    {
        eSuccess = 0,
        eInvalidRequest = 1,
        eErrorOrSocketClosed = 2
    };

    static constexpr const char* s_default_rules_path = "/etc/tarn1/iam/alias_rules.conf";
    static constexpr const char* s_rules_path_variable = "TARN1_IAM_ALIAS_RULES";

    AliasQueryClient();
    /// Reads the rules from this file instead.
    explicit AliasQueryClient(const std::string& rulesPath);
    /// Answers from rules already read (parse_rules).
    explicit AliasQueryClient(std::shared_ptr<const Alias_rule_table> rules);
    ~AliasQueryClient();

    AliasQueryClient(const AliasQueryClient&) = delete;
    AliasQueryClient& operator=(const AliasQueryClient&) = delete;

    /// Fills domains with the identity domains of the process. eInvalidRequest for a negative
    /// pid, eErrorOrSocketClosed when the rules file could not be read.
    EAliasQueryStatus
    AliasQuery(std::uint32_t uid, std::int32_t pid, std::uint32_t gid, std::vector<std::string>& domains);

    /// The rules of a text in the rules file's form; source names it in the warnings about
    /// malformed lines. What the client does with its file's content.
    static std::shared_ptr<const Alias_rule_table> parse_rules(std::istream& text, const std::string& source);

  private:
    std::shared_ptr<const Alias_rule_table> m_rules;
};

} // namespace alias_manager
