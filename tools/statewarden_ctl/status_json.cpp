#include "tools/statewarden_ctl/status_json.hpp"

#include <ctime>
#include <iomanip>
#include <sstream>

namespace tarn1::statewarden_ctl
{

namespace
{

const char* step_status_text(std::uint8_t value)
{
    return value == 0 ? "success" : value == 1 ? "timeout" : "error";
}

nlohmann::json holder_json(const status::Holder& holder, std::uint64_t now_ms)
{
    nlohmann::json result{{"kind", status::kind_text(holder.kind)},
                          {"instance", holder.instance},
                          {"since_ms", holder.since_ms},
                          {"since_wall_ms", holder.since_wall_ms},
                          {"since", utc_text(holder.since_wall_ms)},
                          {"held_ms", now_ms >= holder.since_ms ? now_ms - holder.since_ms : 0}};
    if (holder.kind == status::Holder_kind::com_alive)
    {
        result["cab_bits"] = hex(holder.cab_bits);
    }
    if (holder.kind != status::Holder_kind::ecu_alive)
    {
        result["ac"] = holder.ac;
    }
    return result;
}

nlohmann::json row_json(const status::Client_row& row)
{
    nlohmann::json result{{"name", row.name},
                          {"group", status::group_text(row.group)},
                          {"answer", status::answer_text(row)},
                          {"latency_ms", row.latency_ms},
                          {"code", row.code},
                          {"step", row.step}};
    if (row.answer == status::Client_answer::error)
    {
        result["answered_state"] = row.answered_state;
    }
    if (row.late)
    {
        result["late_ms"] = row.late_ms;
        result["late_answer"] = row.answered_state;
    }
    return result;
}

} // namespace

std::string hex(const std::vector<std::uint8_t>& bytes)
{
    static const char s_digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const auto byte : bytes)
    {
        text += s_digits[byte >> 4U];
        text += s_digits[byte & 0x0FU];
    }
    return text;
}

std::string utc_text(std::uint64_t wall_ms)
{
    const auto seconds = static_cast<std::time_t>(wall_ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    std::ostringstream text;
    text << std::put_time(&utc, "%Y-%m-%dT%H:%M:%S") << "." << std::setw(3) << std::setfill('0') << wall_ms % 1000
         << "Z";
    return text.str();
}

std::string json_line(const nlohmann::json& value)
{
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

nlohmann::json status_json(const status::Holders_reply& reply)
{
    nlohmann::json holders = nlohmann::json::array();
    for (const auto& holder : reply.holders)
    {
        holders.push_back(holder_json(holder, reply.now_ms));
    }
    const auto& nm = reply.nm;
    return nlohmann::json{{"state", status::status_word(reply.state)},
                          {"state_id", reply.state},
                          {"now_ms", reply.now_ms},
                          {"now", utc_text(reply.now_wall_ms)},
                          {"holders", holders},
                          {"holders_omitted", reply.holders_omitted},
                          {"nm",
                           {{"used", nm.used},
                            {"found", nm.found},
                            {"sending", nm.sending},
                            {"user_data", hex(nm.user_data)},
                            {"last_requested", hex(nm.last_requested)},
                            {"last_released", hex(nm.last_released)},
                            {"network_state", hex(nm.network_state)},
                            {"network_state_size", nm.network_state_size},
                            {"ecu_state", status::ecu_state_text(nm.ecu_state)}}},
                          {"knockout", {{"left", reply.knockout_left}, {"initial", reply.knockout_initial}}}};
}

nlohmann::json report_json(const status::Transition_report& report)
{
    nlohmann::json steps = nlohmann::json::array();
    for (const auto& step : report.steps)
    {
        steps.push_back(nlohmann::json{{"group", status::group_text(step.group)},
                                       {"state", step.state},
                                       {"status", step_status_text(step.status)},
                                       {"started_ms", step.started_ms},
                                       {"total_ms", step.total_ms},
                                       {"clients", step.clients}});
    }
    nlohmann::json clients = nlohmann::json::array();
    for (const auto& row : report.clients)
    {
        clients.push_back(row_json(row));
    }
    return nlohmann::json{{"serial", report.serial},
                          {"from", status::status_word(report.from)},
                          {"to", status::status_word(report.to)},
                          {"cause", report.cause},
                          {"cause_kind", status::cause_kind_text(report.cause_kind)},
                          {"at_ms", report.at_ms},
                          {"at", utc_text(report.at_wall_ms)},
                          {"duration_ms", report.duration_ms},
                          {"entry_ms", static_cast<double>(report.entry_us) / 1000.0},
                          {"time_in_from_ms", report.time_in_from_ms},
                          {"steps", steps},
                          {"clients", clients},
                          {"clients_omitted", report.clients_omitted}};
}

nlohmann::json history_json(const std::vector<status::Transition_report>& reports)
{
    nlohmann::json result = nlohmann::json::array();
    for (const auto& report : reports)
    {
        result.push_back(report_json(report));
    }
    return result;
}

} // namespace tarn1::statewarden_ctl
