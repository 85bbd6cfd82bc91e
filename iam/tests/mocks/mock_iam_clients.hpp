#pragma once

#include "iam/iam_clients.hpp"

#include <gmock/gmock.h>
#include <memory>
#include <utility>

namespace vela::iam::testing
{

class Mock_alias_query_client : public Alias_query_client_interface
{
  public:
    MOCK_METHOD(Alias_query_status,
                AliasQuery,
                (std::uint32_t uid, std::int32_t pid, std::uint32_t gid, std::vector<std::string>& domains),
                (override));
};

class Mock_policy_decision_point : public Policy_decision_point_interface
{
  public:
    MOCK_METHOD(Policy_result,
                CheckPolicy,
                (const std::string& identity,
                 const std::string& endpoint,
                 const std::string& protocol,
                 const std::string& resource,
                 const std::string& operation),
                (override));
};

/// Hands out NiceMock clients; the test keeps raw pointers to the ones it set up
/// (alias() and policy() are those of the most recently created handler).
class Fake_clients_factory : public Iam_clients_factory_interface
{
  public:
    std::unique_ptr<Policy_decision_point_interface> create_policy_decision_point() override
    {
        auto client = std::make_unique<::testing::NiceMock<Mock_policy_decision_point>>();
        m_policy = client.get();
        if (m_configure_policy)
        {
            m_configure_policy(*client);
        }
        return client;
    }

    std::unique_ptr<Alias_query_client_interface> create_alias_query_client() override
    {
        auto client = std::make_unique<::testing::NiceMock<Mock_alias_query_client>>();
        m_alias = client.get();
        if (m_configure_alias)
        {
            m_configure_alias(*client);
        }
        return client;
    }

    /// Applied to every client made from now on.
    void configure(std::function<void(Mock_alias_query_client&)> alias,
                   std::function<void(Mock_policy_decision_point&)> policy)
    {
        m_configure_alias = std::move(alias);
        m_configure_policy = std::move(policy);
    }

    Mock_alias_query_client& alias() { return *m_alias; }
    Mock_policy_decision_point& policy() { return *m_policy; }

  private:
    Mock_alias_query_client* m_alias{nullptr};
    Mock_policy_decision_point* m_policy{nullptr};
    std::function<void(Mock_alias_query_client&)> m_configure_alias;
    std::function<void(Mock_policy_decision_point&)> m_configure_policy;
};

} // namespace vela::iam::testing
