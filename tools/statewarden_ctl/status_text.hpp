#pragma once

#include "statemanager/status/status_types.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace tarn1::statewarden_ctl
{

namespace status = vela::ap::statemanager::status;

// The forms of the tool for people. Times are local times of day; durations read as "850 ms",
// "12.3 s" or "4 min 59 s".

/// "status": the state, one line per holder, the NM side, the knock-out counter.
std::string status_text(const status::Holders_reply& reply);
/// "history": one line per report, oldest first, each followed by its clients.
std::string history_text(const std::vector<status::Transition_report>& reports);
/// "watch": one line for a report, with the slowest client of its round.
std::string watch_line(const status::Transition_report& report);
/// One line per holder ("ecu_alive EcuAlive_Diagnostics since 12:00:05, 4 min 59 s").
std::vector<std::string> holder_lines(const status::Holders_reply& reply);
/// One line per client of the report's round ("navigation (apps) kPrepSD 12 ms").
std::vector<std::string> client_lines(const status::Transition_report& report);

/// Unix time in ms as local time of day, "12:00:05.123".
std::string clock_text(std::uint64_t wall_ms);
/// A duration for people.
std::string duration_text(std::uint64_t ms);

} // namespace tarn1::statewarden_ctl
