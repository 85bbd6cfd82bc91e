#pragma once

#include "iam/iam_clients.hpp"
#include "vela/iam/messages.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace vela::iam
{

/// Lower-case hexadecimal digits without prefix, at least 4 of them (26 -> "001a",
/// 0x1a2b3 -> "1a2b3").
template <typename T> std::string int_to_hex(T value)
{
    static_assert(std::is_same_v<T, std::uint16_t> || std::is_same_v<T, std::uint32_t>,
                  "int_to_hex takes 16-bit and 32-bit unsigned values");
    static constexpr char digits[] = "0123456789abcdef";
    char text[2 * sizeof(T)];
    std::size_t start = sizeof(text);
    do
    {
        text[--start] = digits[value & 0xfU];
        value = static_cast<T>(value >> 4U);
    } while (value != 0);
    while (sizeof(text) - start < 4)
    {
        text[--start] = '0';
    }
    return std::string(text + start, sizeof(text) - start);
}

/// The alias query client, its status codes turned into exceptions.
class Alias_manager_proxy final
{
  public:
    explicit Alias_manager_proxy(std::unique_ptr<Alias_query_client_interface> client);

    /// The domains of the process; throws Tarn1_iam_exception on status 1 or 2.
    std::vector<std::string> alias_query(std::uint32_t uid, std::int32_t pid, std::uint32_t gid);

  private:
    std::unique_ptr<Alias_query_client_interface> m_client;
};

/// The policy decision point client, its failures turned into exceptions.
class Policy_decision_proxy final
{
  public:
    explicit Policy_decision_proxy(std::unique_ptr<Policy_decision_point_interface> client);

    /// True when allowed, false when denied; throws Tarn1_iam_exception on result 2 or 3.
    bool check(const std::string& identity,
               const std::string& endpoint,
               const std::string& protocol,
               const std::string& resource,
               const std::string& operation);

  private:
    std::unique_ptr<Policy_decision_point_interface> m_client;
};

/// Decides one request through the alias query (local processes) and the policy decision point.
/// One per session; runs on the event-loop thread.
class Request_handler final
{
  public:
    /// Clients of the platform's libraries.
    Request_handler();
    /// Clients from factory: the policy decision point first, then the alias query client.
    explicit Request_handler(Iam_clients_factory_interface& factory);

    /// Decision allowed or denied; every other outcome is a thrown Tarn1_iam_exception.
    Check_response handle(const Check_request& request);

  private:
    Check_response handle_egress(const Check_request_posix& request);
    Check_response handle_ingress(const Check_request_tcpip& request);

    Policy_decision_proxy m_policy_decision_proxy;
    Alias_manager_proxy m_alias_manager_proxy;
};

} // namespace vela::iam
