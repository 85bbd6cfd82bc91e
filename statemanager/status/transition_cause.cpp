#include "statemanager/status/transition_cause.hpp"

#include "statemanager/states/state_ids.hpp"

namespace vela::ap::statemanager::status
{

using virtio::Virtio_command;

const char* key_of(Virtio_command command)
{
    switch (command)
    {
    case Virtio_command::Run:
        return "R";
    case Virtio_command::NmControlled:
        return "N";
    case Virtio_command::NMControlledPrepareSD:
        return "S";
    case Virtio_command::PrepareSD:
        return "P";
    case Virtio_command::Shutdown:
        return "POWER";
    case Virtio_command::Non:
    default:
        return "";
    }
}

namespace
{

Cause key(Virtio_command command)
{
    return Cause{Cause_kind::key, std::string("key ") + key_of(command)};
}

/// Post Run left for shutting down or preparing without a command: the counter ran out while an
/// application still held the ECU, or nobody holds it any more.
Cause released(const Cause_context& context)
{
    if (context.ecu_kept && context.knockout_expired)
    {
        return Cause{Cause_kind::knock_out, "knock-out"};
    }
    return Cause{Cause_kind::application, "ECU alive released"};
}

/// The command that leads from a state to a target, where one does; Non where only something
/// other than a command does.
Virtio_command command_leading(std::uint32_t from, std::uint32_t to)
{
    using namespace states;
    switch (from)
    {
    case s_running:
        return to == s_nm_controlled   ? Virtio_command::NmControlled
               : to == s_preparing     ? Virtio_command::PrepareSD
               : to == s_shutting_down ? Virtio_command::Shutdown
                                       : Virtio_command::Non;
    case s_nm_controlled:
    case s_post_run:
        return to == s_running         ? Virtio_command::Run
               : to == s_shutting_down ? Virtio_command::Shutdown
               : to == s_preparing     ? Virtio_command::PrepareSD
                                       : Virtio_command::Non;
    case s_preparing:
        return to == s_resuming ? Virtio_command::Run : Virtio_command::Non;
    case s_prepared_sd:
        return to == s_resuming        ? Virtio_command::Run
               : to == s_shutting_down ? Virtio_command::Shutdown
                                       : Virtio_command::Non;
    case s_resuming:
        return to == s_shutting_down ? Virtio_command::Shutdown : Virtio_command::Non;
    default:
        return Virtio_command::Non;
    }
}

} // namespace

Cause cause_of(std::uint32_t from, std::uint32_t to, Virtio_command command, const Cause_context& context)
{
    using namespace states;
    const Virtio_command leading = command_leading(from, to);
    // Running to NM control is led by N or by S; both are keys.
    if (from == s_running && to == s_nm_controlled &&
        (command == Virtio_command::NmControlled || command == Virtio_command::NMControlledPrepareSD))
    {
        return key(command);
    }
    if (leading != Virtio_command::Non && command == leading)
    {
        return key(command);
    }
    switch (from)
    {
    case s_starting_up:
        return context.nm_found ? Cause{Cause_kind::network, "NM services found"}
                                : Cause{Cause_kind::start_up, "start-up without NM"};
    case s_nm_controlled:
        if (to == s_post_run)
        {
            return Cause{Cause_kind::network, "network asleep, ECU kept alive"};
        }
        return Cause{Cause_kind::network, to == s_preparing ? "network asleep, prepare-SD" : "network asleep"};
    case s_post_run:
        if (to == s_nm_controlled)
        {
            return Cause{Cause_kind::application, "COM alive requested"};
        }
        return released(context);
    case s_preparing:
        return Cause{Cause_kind::round_end, "standby round ended"};
    case s_resuming:
        return Cause{Cause_kind::round_end, "resume round ended"};
    default:
        // Every other change is led by a command; a key is the best account of one without it.
        return command != Virtio_command::Non ? key(command) : Cause{Cause_kind::key, "key"};
    }
}

bool waits_for(std::uint32_t from, const Cause& cause)
{
    using namespace states;
    if (cause.kind == Cause_kind::key)
    {
        return false;
    }
    return from == s_starting_up || from == s_preparing || from == s_resuming;
}

} // namespace vela::ap::statemanager::status
