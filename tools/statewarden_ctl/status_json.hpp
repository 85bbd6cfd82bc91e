#pragma once

#include "statemanager/status/status_types.hpp"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tarn1::statewarden_ctl
{

namespace status = vela::ap::statemanager::status;

// The --json forms of the tool. Scripts rely on these keys and values; keys may be added, none
// renamed or dropped:
//   status:  {"state": <status word>, "holders": [{"kind", "instance", "since_ms", ...}], ...}
//   history: [{"from", "to", "cause", "duration_ms", "clients": [{"name", "group", "answer",
//            "latency_ms", ...}], ...}], oldest first
//   watch:   one report object (as in history) per line

/// The answer of GetHolders.
nlohmann::json status_json(const status::Holders_reply& reply);
/// One transition report.
nlohmann::json report_json(const status::Transition_report& report);
/// Reports, oldest first.
nlohmann::json history_json(const std::vector<status::Transition_report>& reports);

/// Bytes as lower-case hex digits without blanks ("800000").
std::string hex(const std::vector<std::uint8_t>& bytes);
/// Unix time in ms as UTC, "2026-12-08T03:41:07.512Z".
std::string utc_text(std::uint64_t wall_ms);
/// One JSON value as a line of text; bytes that are not UTF-8 are replaced.
std::string json_line(const nlohmann::json& value);

} // namespace tarn1::statewarden_ctl
