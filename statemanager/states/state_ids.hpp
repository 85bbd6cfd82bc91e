#pragma once

#include <cstdint>

namespace vela::ap::statemanager::states
{

/// State ids; the id is also the state's slot in the state manager.
using State_id = std::uint32_t;

constexpr State_id s_starting_up = 0;
constexpr State_id s_running = 1;
constexpr State_id s_nm_controlled = 2;
constexpr State_id s_post_run = 3;
constexpr State_id s_shutting_down = 4;
constexpr State_id s_preparing = 5;
constexpr State_id s_prepared_sd = 6;
constexpr State_id s_resuming = 7;
/// Not a state: check_transition's answer when the current state stays.
constexpr State_id s_no_transition = 8;
/// How many states there are.
constexpr State_id s_state_count = 8;

/// The names returned by get_name(), indexed by state id.
constexpr const char* s_state_names[s_state_count] = {
    "Starting up", "Running", "NM Controlled", "Post Run", "Shutting down", "Preparing", "PreparedSD", "Resuming"};

} // namespace vela::ap::statemanager::states
