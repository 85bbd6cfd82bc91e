#include "iam/iam_clients.hpp"

namespace vela::iam
{
namespace
{

class Platform_alias_query_client final : public Alias_query_client_interface
{
  public:
    Alias_query_status
    AliasQuery(std::uint32_t uid, std::int32_t pid, std::uint32_t gid, std::vector<std::string>& domains) override
    {
        return m_client.AliasQuery(uid, pid, gid, domains);
    }

  private:
    alias_manager::AliasQueryClient m_client;
};

class Platform_policy_decision_point final : public Policy_decision_point_interface
{
  public:
    Policy_result CheckPolicy(const std::string& identity,
                              const std::string& endpoint,
                              const std::string& protocol,
                              const std::string& resource,
                              const std::string& operation) override
    {
        return m_client.CheckPolicy(identity, endpoint, protocol, resource, operation);
    }

  private:
    policy_decision_point_if::PolicyDecisionPoint m_client;
};

} // namespace

std::unique_ptr<Policy_decision_point_interface> Platform_clients_factory::create_policy_decision_point()
{
    return std::make_unique<Platform_policy_decision_point>();
}

std::unique_ptr<Alias_query_client_interface> Platform_clients_factory::create_alias_query_client()
{
    return std::make_unique<Platform_alias_query_client>();
}

Platform_clients_factory& Platform_clients_factory::instance()
{
    static Platform_clients_factory factory;
    return factory;
}

} // namespace vela::iam
