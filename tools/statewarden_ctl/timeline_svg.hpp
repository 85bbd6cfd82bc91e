#pragma once

#include "statemanager/status/status_types.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace tarn1::statewarden_ctl
{

namespace status = vela::ap::statemanager::status;

/// The daemon's clock and state when the picture is drawn; the last state's band ends there.
struct Timeline_now
{
    std::uint8_t state{0};
    std::uint64_t now_ms{0};
    std::uint64_t now_wall_ms{0};
};

/// A timeline picture (SVG, for any browser) of the reports, oldest first: the states as bands
/// over time (one rect of class "band" per state visited, its state in data-state), the keys and
/// network changes that caused a change as marks (class "mark"), each notification step as a bar
/// under the bands, and the newest round in detail: one bar per client (class "client", its
/// answer in data-answer) from the request to the answer or the deadline, coloured by answer, a
/// late answer drawn on past the deadline. Texts of clients are escaped for XML.
std::string timeline_svg(const std::vector<status::Transition_report>& reports, const Timeline_now& now);

} // namespace tarn1::statewarden_ctl
