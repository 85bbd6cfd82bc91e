#pragma once

#include "alias_manager/alias_query_client.h"
#include "policy_decision_point_if/policy_decision_point.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vela::iam
{

using Alias_query_status = alias_manager::AliasQueryClient::EAliasQueryStatus;
using Policy_result = policy_decision_point_if::PolicyDecision;

/// The platform's alias query service as the daemon sees it. Called on the event-loop thread.
class Alias_query_client_interface
{
  public:
    virtual ~Alias_query_client_interface() = default;
    /// Fills domains with the identity domains of the process; returns the service's status.
    virtual Alias_query_status
    AliasQuery(std::uint32_t uid, std::int32_t pid, std::uint32_t gid, std::vector<std::string>& domains) = 0;
};

/// The platform's policy decision point as the daemon sees it. Called on the event-loop thread.
class Policy_decision_point_interface
{
  public:
    virtual ~Policy_decision_point_interface() = default;
    /// The platform's verdict on one query (identity, endpoint, protocol, resource, operation).
    virtual Policy_result CheckPolicy(const std::string& identity,
                                      const std::string& endpoint,
                                      const std::string& protocol,
                                      const std::string& resource,
                                      const std::string& operation) = 0;
};

/// Makes the two clients of one request handler (one pair per session).
class Iam_clients_factory_interface
{
  public:
    virtual ~Iam_clients_factory_interface() = default;
    virtual std::unique_ptr<Policy_decision_point_interface> create_policy_decision_point() = 0;
    virtual std::unique_ptr<Alias_query_client_interface> create_alias_query_client() = 0;
};

/// Makes clients of the platform's libraries.
class Platform_clients_factory final : public Iam_clients_factory_interface
{
  public:
    std::unique_ptr<Policy_decision_point_interface> create_policy_decision_point() override;
    std::unique_ptr<Alias_query_client_interface> create_alias_query_client() override;

    /// The one process-wide instance the daemon uses.
    static Platform_clients_factory& instance();
};

} // namespace vela::iam
