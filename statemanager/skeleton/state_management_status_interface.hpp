#pragma once

#include "kest/com/connector/service_interface_description.h"
#include "kest/com/someip/serializer.h"
#include "statemanager/status/status_types.hpp"

#include <cstdint>

// The read-only status service of the state manager: its state as a field, the holders of
// requests and the NM side on demand, and a report of every state change as an event and as a
// bounded history. Payloads are SOME/IP-serialized like every interface here: integers big-endian,
// booleans one byte (0 or 1), strings as a 4-byte length, EF BB BF, UTF-8 text and a zero byte,
// byte vectors and arrays as a 4-byte length (bytes) and their content, structs as their members in
// order.

namespace vela::ap::statemanager
{

/// Who keeps the machine awake, and what each state change did.
struct StateManagementStatusInterface
{
    static const char* service_identifier() { return "vela::ap::statemanager::StateManagementStatusInterface"; }
    static kest::com::connector::Service_interface_description description() { return {service_identifier(), 2, 3}; }
    static constexpr std::uint16_t kGetHolders = 0;
    static constexpr std::uint16_t kGetHistory = 1;
    /// The getter of the State field.
    static constexpr std::uint16_t kStateGet = 2;
    /// The change notification of the State field.
    static constexpr std::uint16_t kStateEvent = 0;
    /// One report after every state change.
    static constexpr std::uint16_t kTransitionReportEvent = 1;
    /// The one instance of the status service.
    static const char* instance() { return "Status"; }
};

} // namespace vela::ap::statemanager

namespace vela::ap::statemanager::status
{

// The wire form of the status types, found by the serializer through their namespace. Each
// deserialize refuses values outside their range (an unknown kind, group, answer or cause, a
// state id above 7, a boolean other than 0 or 1).

void serialize(kest::com::someip::Serializer& out, const State_value& value);
bool deserialize(kest::com::someip::Deserializer& in, State_value& value);
void serialize(kest::com::someip::Serializer& out, const Holder& value);
bool deserialize(kest::com::someip::Deserializer& in, Holder& value);
void serialize(kest::com::someip::Serializer& out, const Nm_view& value);
bool deserialize(kest::com::someip::Deserializer& in, Nm_view& value);
void serialize(kest::com::someip::Serializer& out, const Holders_reply& value);
bool deserialize(kest::com::someip::Deserializer& in, Holders_reply& value);
void serialize(kest::com::someip::Serializer& out, const Step_total& value);
bool deserialize(kest::com::someip::Deserializer& in, Step_total& value);
void serialize(kest::com::someip::Serializer& out, const Client_row& value);
bool deserialize(kest::com::someip::Deserializer& in, Client_row& value);
void serialize(kest::com::someip::Serializer& out, const Transition_report& value);
bool deserialize(kest::com::someip::Deserializer& in, Transition_report& value);

} // namespace vela::ap::statemanager::status
