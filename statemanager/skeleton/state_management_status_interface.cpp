#include "statemanager/skeleton/state_management_status_interface.hpp"

namespace vela::ap::statemanager::status
{

using kest::com::someip::Deserializer;
using kest::com::someip::Serializer;

namespace
{

void write_bool(Serializer& out, bool value)
{
    out.write(static_cast<std::uint8_t>(value ? 1 : 0));
}

bool read_bool(Deserializer& in, bool& value)
{
    std::uint8_t byte = 0;
    if (!in.read(byte) || byte > 1)
    {
        return false;
    }
    value = byte == 1;
    return true;
}

/// Reads a one-byte enumeration whose values run from 0 to last.
template <typename Enum> bool read_enum(Deserializer& in, Enum& value, std::uint8_t last)
{
    std::uint8_t byte = 0;
    if (!in.read(byte) || byte > last)
    {
        return false;
    }
    value = static_cast<Enum>(byte);
    return true;
}

bool read_state(Deserializer& in, std::uint8_t& state)
{
    return in.read(state) && state < s_state_count;
}

void write_enum(Serializer& out, std::uint8_t value)
{
    out.write(value);
}

} // namespace

void serialize(Serializer& out, const State_value& value)
{
    out.write(value.id);
    out.write(value.word);
    out.write(value.since_ms);
    out.write(value.since_wall_ms);
}

bool deserialize(Deserializer& in, State_value& value)
{
    return read_state(in, value.id) && in.read(value.word) && in.read(value.since_ms) && in.read(value.since_wall_ms);
}

void serialize(Serializer& out, const Holder& value)
{
    write_enum(out, static_cast<std::uint8_t>(value.kind));
    out.write(value.instance);
    out.write(value.cab_bits);
    out.write(value.ac);
    out.write(value.since_ms);
    out.write(value.since_wall_ms);
}

bool deserialize(Deserializer& in, Holder& value)
{
    return read_enum(in, value.kind, 2) && in.read(value.instance) && in.read(value.cab_bits) && in.read(value.ac) &&
           in.read(value.since_ms) && in.read(value.since_wall_ms);
}

void serialize(Serializer& out, const Nm_view& value)
{
    write_bool(out, value.used);
    write_bool(out, value.found);
    write_bool(out, value.sending);
    out.write(value.user_data);
    out.write(value.last_requested);
    out.write(value.last_released);
    out.write(value.network_state);
    out.write(value.network_state_size);
    out.write(value.ecu_state);
}

bool deserialize(Deserializer& in, Nm_view& value)
{
    return read_bool(in, value.used) && read_bool(in, value.found) && read_bool(in, value.sending) &&
           in.read(value.user_data) && in.read(value.last_requested) && in.read(value.last_released) &&
           in.read(value.network_state) && in.read(value.network_state_size) && in.read(value.ecu_state) &&
           value.ecu_state <= 2;
}

void serialize(Serializer& out, const Holders_reply& value)
{
    out.write(value.state);
    out.write(value.now_ms);
    out.write(value.now_wall_ms);
    out.write(value.holders);
    out.write(value.holders_omitted);
    serialize(out, value.nm);
    out.write(value.knockout_left);
    out.write(value.knockout_initial);
}

bool deserialize(Deserializer& in, Holders_reply& value)
{
    return read_state(in, value.state) && in.read(value.now_ms) && in.read(value.now_wall_ms) &&
           in.read(value.holders) && in.read(value.holders_omitted) && deserialize(in, value.nm) &&
           in.read(value.knockout_left) && in.read(value.knockout_initial);
}

void serialize(Serializer& out, const Step_total& value)
{
    out.write(value.serial);
    write_enum(out, static_cast<std::uint8_t>(value.group));
    out.write(value.state);
    out.write(value.status);
    out.write(value.started_ms);
    out.write(value.total_ms);
    out.write(value.clients);
}

bool deserialize(Deserializer& in, Step_total& value)
{
    return in.read(value.serial) && read_enum(in, value.group, 2) && in.read(value.state) && in.read(value.status) &&
           value.status <= 2 && in.read(value.started_ms) && in.read(value.total_ms) && in.read(value.clients);
}

void serialize(Serializer& out, const Client_row& value)
{
    out.write(value.step);
    out.write(value.name);
    write_enum(out, static_cast<std::uint8_t>(value.group));
    write_enum(out, static_cast<std::uint8_t>(value.answer));
    out.write(value.answered_state);
    out.write(value.code);
    out.write(value.latency_ms);
    write_bool(out, value.late);
    out.write(value.late_ms);
}

bool deserialize(Deserializer& in, Client_row& value)
{
    return in.read(value.step) && in.read(value.name) && read_enum(in, value.group, 2) &&
           read_enum(in, value.answer, 3) && in.read(value.answered_state) && in.read(value.code) &&
           in.read(value.latency_ms) && read_bool(in, value.late) && in.read(value.late_ms);
}

void serialize(Serializer& out, const Transition_report& value)
{
    out.write(value.serial);
    out.write(value.from);
    out.write(value.to);
    write_enum(out, static_cast<std::uint8_t>(value.cause_kind));
    out.write(value.cause);
    out.write(value.at_ms);
    out.write(value.at_wall_ms);
    out.write(value.entry_us);
    out.write(value.time_in_from_ms);
    out.write(value.duration_ms);
    out.write(value.steps);
    out.write(value.clients);
    out.write(value.clients_omitted);
}

bool deserialize(Deserializer& in, Transition_report& value)
{
    if (!(in.read(value.serial) && read_state(in, value.from) && read_state(in, value.to) &&
          read_enum(in, value.cause_kind, 5) && in.read(value.cause) && in.read(value.at_ms) &&
          in.read(value.at_wall_ms) && in.read(value.entry_us) && in.read(value.time_in_from_ms) &&
          in.read(value.duration_ms) && in.read(value.steps) && in.read(value.clients) &&
          in.read(value.clients_omitted)))
    {
        return false;
    }
    // A row names a step of its own report.
    for (const auto& row : value.clients)
    {
        if (row.step >= value.steps.size())
        {
            return false;
        }
    }
    return true;
}

} // namespace vela::ap::statemanager::status
