#include "iam/request_handler.hpp"

#include "iam/iam_exception.hpp"
#include "iam/iam_logger.hpp"

#include <chrono>

namespace vela::iam
{
namespace
{

// Durations only: a wall-clock step (NTP, the time being set) must not show up as a check that
// took minutes or a negative time.
using Clock = std::chrono::steady_clock;
static_assert(Clock::is_steady, "durations are measured on a monotonic clock");

std::int64_t elapsed_ms(Clock::time_point since)
{
    return static_cast<std::int64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

const char* allowed_text(bool allowed)
{
    return allowed ? "allowed" : "denied";
}

/// The operation's name for the logs; sets operation_id to what the policy decision point
/// is asked. send_* for egress (a local process acts), recv_* for ingress (a remote peer acts).
const char* map_operation(const iam_internal_if::Service_someip_ifc& service, bool egress, std::string& operation_id)
{
    switch (service.operation)
    {
    case Operation::Provide_service:
        operation_id = egress ? "send_offer" : "recv_offer";
        return "Provide_service";
    case Operation::Use_service:
        operation_id = egress ? "send_find" : "recv_find";
        return "Use_service";
    case Operation::Call_method:
        operation_id = int_to_hex(service.member_id);
        return "Call_method";
    case Operation::Subscribe_event:
        operation_id = int_to_hex(service.member_id);
        return "Subscribe_event";
    }
    throw Tarn1_iam_exception(egress ? "unsupported operation for egress communication"
                                     : "unsupported operation for ingress communication");
}

std::string ids_text(const identifier::Identifier_posix& id)
{
    return "gid: " + std::to_string(id.gid) + ", uid: " + std::to_string(id.uid) + ", pid: " + std::to_string(id.pid);
}

} // namespace

Alias_manager_proxy::Alias_manager_proxy(std::unique_ptr<Alias_query_client_interface> client)
    : m_client(std::move(client))
{
}

std::vector<std::string> Alias_manager_proxy::alias_query(std::uint32_t uid, std::int32_t pid, std::uint32_t gid)
{
    std::vector<std::string> domains;
    switch (m_client->AliasQuery(uid, pid, gid, domains))
    {
    case Alias_query_status::eInvalidRequest:
        throw Tarn1_iam_exception("AliasQueryClient::EAliasQueryStatus::eInvalidRequest");
    case Alias_query_status::eErrorOrSocketClosed:
        throw Tarn1_iam_exception("AliasQueryClient::EAliasQueryStatus::eErrorOrSocketClosed");
    default:
        return domains;
    }
}

Policy_decision_proxy::Policy_decision_proxy(std::unique_ptr<Policy_decision_point_interface> client)
    : m_client(std::move(client))
{
}

bool Policy_decision_proxy::check(const std::string& identity,
                                  const std::string& endpoint,
                                  const std::string& protocol,
                                  const std::string& resource,
                                  const std::string& operation)
{
    switch (m_client->CheckPolicy(identity, endpoint, protocol, resource, operation))
    {
    case Policy_result::kAllowed:
        return true;
    case Policy_result::kConnectionFailed:
        throw Tarn1_iam_exception("PolicyDecision::kConnectionFailed");
    case Policy_result::kInvalidQuery:
        throw Tarn1_iam_exception("PolicyDecision::kInvalidQuery");
    default:
        return false;
    }
}

Request_handler::Request_handler()
    : Request_handler(Platform_clients_factory::instance())
{
}

Request_handler::Request_handler(Iam_clients_factory_interface& factory)
    : m_policy_decision_proxy(factory.create_policy_decision_point())
    , m_alias_manager_proxy(factory.create_alias_query_client())
{
}

Check_response Request_handler::handle(const Check_request& request)
{
    switch (request.transport())
    {
    case Transport::tcpip:
    {
        const std::any copy = request.request();
        const auto* tcpip = std::any_cast<Check_request_tcpip>(&copy);
        if (tcpip != nullptr)
        {
            return handle_ingress(*tcpip);
        }
        break;
    }
    case Transport::posix:
    {
        const std::any copy = request.request();
        const auto* posix = std::any_cast<Check_request_posix>(&copy);
        if (posix != nullptr)
        {
            return handle_egress(*posix);
        }
        break;
    }
    default:
        break;
    }
    throw Tarn1_iam_exception("ingress/egress handling problem: bad request");
}

Check_response Request_handler::handle_egress(const Check_request_posix& request)
{
    const auto& id = request.identifier;
    const auto& service = request.service;
    std::string operation_id;
    const char* operation_name = map_operation(service, true, operation_id);

    auto& logger = iam_logger();
    ara::log::LogStream(ara::log::LogLevel::kDebug, logger)
        << "Request_handler: Posix request. Call alias_query. Uid: " << id.uid << ", pid: " << id.pid
        << ", gid: " << id.gid;
    auto started = Clock::now();
    const auto domains = m_alias_manager_proxy.alias_query(id.uid, id.pid, id.gid);
    ara::log::LogStream(ara::log::LogLevel::kDebug, logger)
        << "Request_handler: Posix request. alias_query handled in " << elapsed_ms(started) << " ms";

    if (domains.empty())
    {
        throw Tarn1_iam_exception("no domain found for " + ids_text(id));
    }
    if (domains.size() > 1)
    {
        throw Tarn1_iam_exception("more then one domain found for " + ids_text(id));
    }
    const std::string& domain = domains.front();
    const std::string resource = int_to_hex(service.service_id);

    ara::log::LogStream(ara::log::LogLevel::kDebug, logger)
        << "Request_handler: Posix request. Call policy_decision_proxy.check. Operation: " << operation_name
        << ", identity: " << domain << ", resource: " << service.service_id << " -> " << resource
        << ", operation id: " << operation_id;
    started = Clock::now();
    const bool allowed = m_policy_decision_proxy.check(domain, std::string(), "SOMEIP", resource, operation_id);
    ara::log::LogStream(ara::log::LogLevel::kDebug, logger)
        << "Request_handler: Posix request. Policy_decision_proxy.check handled in " << elapsed_ms(started)
        << " ms, decision: " << allowed_text(allowed);

    return Check_response{allowed ? Decision::allowed : Decision::denied};
}

Check_response Request_handler::handle_ingress(const Check_request_tcpip& request)
{
    const auto& id = request.identifier;
    const auto& service = request.service;
    std::string operation_id;
    const char* operation_name = map_operation(service, false, operation_id);

    const std::string endpoint = "[" + id.address.to_string() + "]:" + std::to_string(id.port);
    const std::string resource = int_to_hex(service.service_id);

    auto& logger = iam_logger();
    if (logger.IsLogEnabled(ara::log::LogLevel::kDebug))
    {
        ara::log::LogStream(ara::log::LogLevel::kDebug, logger)
            << "Request_handler: Tcpip request. Call policy_decision_proxy.check. Operation: " << operation_name
            << (", domain: " + endpoint) << ", resource: " << service.service_id << " -> " << resource
            << ", operation id: " << operation_id;
    }
    const auto started = Clock::now();
    const bool allowed = m_policy_decision_proxy.check(std::string(), endpoint, "SOMEIP", resource, operation_id);
    ara::log::LogStream(ara::log::LogLevel::kDebug, logger)
        << "Request_handler: Tcpip request handled in " << elapsed_ms(started)
        << "ms, decision: " << allowed_text(allowed);

    return Check_response{allowed ? Decision::allowed : Decision::denied};
}

} // namespace vela::iam
