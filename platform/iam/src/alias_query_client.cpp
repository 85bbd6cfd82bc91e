#include "alias_manager/alias_query_client.h"

#include "ara/log/logging.h"
#include "rules_file.hpp"

#include <charconv>
#include <fstream>
#include <optional>

namespace alias_manager
{

struct Alias_rule
{
    std::optional<std::uint32_t> uid;
    std::optional<std::uint32_t> gid;
    std::optional<std::int32_t> pid;
    std::string domain;
};

struct Alias_rule_table
{
    bool readable{false};
    std::vector<Alias_rule> rules;
};

namespace
{

ara::log::Logger& alias_logger()
{
    return ara::log::CreateLogger("ALIA", "alias query stand-in");
}

/// "*" is any value (empty result); false when the text is no number of the type.
template <typename Number> bool parse_column(const std::string& text, std::optional<Number>& value)
{
    if (text == "*")
    {
        value.reset();
        return true;
    }
    Number number{};
    const auto end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, number);
    if (result.ec != std::errc() || result.ptr != end)
    {
        return false;
    }
    value = number;
    return true;
}

std::shared_ptr<const Alias_rule_table> load_rules(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
    {
        alias_logger().LogError() << "cannot read alias rules file " << path << "; every query fails";
        return std::make_shared<Alias_rule_table>();
    }
    return AliasQueryClient::parse_rules(file, path);
}

tarn1::platform_iam::Table_cache<Alias_rule_table>& cache()
{
    static tarn1::platform_iam::Table_cache<Alias_rule_table> instance;
    return instance;
}

} // namespace

AliasQueryClient::AliasQueryClient()
    : AliasQueryClient(tarn1::platform_iam::path_from_environment(s_rules_path_variable, s_default_rules_path))
{
}

AliasQueryClient::AliasQueryClient(const std::string& rulesPath)
    : m_rules(cache().get(rulesPath, load_rules))
{
}

AliasQueryClient::AliasQueryClient(std::shared_ptr<const Alias_rule_table> rules)
    : m_rules(std::move(rules))
{
}

AliasQueryClient::~AliasQueryClient() = default;

std::shared_ptr<const Alias_rule_table> AliasQueryClient::parse_rules(std::istream& text, const std::string& source)
{
    auto table = std::make_shared<Alias_rule_table>();
    table->readable = true;
    std::vector<tarn1::platform_iam::Rules_line> lines;
    tarn1::platform_iam::read_rules_lines(text, lines);
    for (const auto& line : lines)
    {
        Alias_rule rule;
        if (line.fields.size() != 4 || !parse_column(line.fields[0], rule.uid) ||
            !parse_column(line.fields[1], rule.gid) || !parse_column(line.fields[2], rule.pid))
        {
            alias_logger().LogWarn() << source << ":" << static_cast<std::uint64_t>(line.number)
                                     << ": expected \"<uid> <gid> <pid> <domain>\"; line ignored";
            continue;
        }
        rule.domain = line.fields[3];
        table->rules.push_back(std::move(rule));
    }
    alias_logger().LogInfo() << "read " << static_cast<std::uint64_t>(table->rules.size()) << " alias rules from "
                             << source;
    return table;
}

AliasQueryClient::EAliasQueryStatus
AliasQueryClient::AliasQuery(std::uint32_t uid, std::int32_t pid, std::uint32_t gid, std::vector<std::string>& domains)
{
    if (pid < 0)
    {
        return EAliasQueryStatus::eInvalidRequest;
    }
    if (!m_rules->readable)
    {
        return EAliasQueryStatus::eErrorOrSocketClosed;
    }
    for (const auto& rule : m_rules->rules)
    {
        if ((!rule.uid || *rule.uid == uid) && (!rule.gid || *rule.gid == gid) && (!rule.pid || *rule.pid == pid))
        {
            domains.push_back(rule.domain);
        }
    }
    return EAliasQueryStatus::eSuccess;
}

} // namespace alias_manager
