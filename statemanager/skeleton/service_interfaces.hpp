#pragma once

#include "kest/com/connector/service_interface_description.h"

#include <cstdint>

// The four service interfaces the state manager offers to the applications of its virtual machine.
// Methods count from 0; arguments are SOME/IP-serialized (byte vector: 4-byte length + bytes).

namespace vela::ap::statemanager
{

/// An application keeps the ECU awake, or releases that request.
struct StateManagementAliveInterface
{
    static const char* service_identifier() { return "vela::ap::statemanager::StateManagementAliveInterface"; }
    static kest::com::connector::Service_interface_description description() { return {service_identifier(), 0, 2}; }
    static constexpr std::uint16_t kReleaseAlive = 0;
    static constexpr std::uint16_t kRequestAlive = 1;
};

/// An application keeps communication alive with its CAB bits and AC value.
struct StateManagementComAliveInterface
{
    static const char* service_identifier() { return "vela::ap::statemanager::StateManagementComAliveInterface"; }
    static kest::com::connector::Service_interface_description description() { return {service_identifier(), 0, 2}; }
    static constexpr std::uint16_t kReleaseComAlive = 0;
    static constexpr std::uint16_t kRequestComAlive = 1;
};

/// An application requests a car wake-up with its AC value.
struct StateManagementCWUInterface
{
    static const char* service_identifier() { return "vela::ap::statemanager::StateManagementCWUInterface"; }
    static kest::com::connector::Service_interface_description description() { return {service_identifier(), 0, 2}; }
    static constexpr std::uint16_t kReleaseCarWakeUp = 0;
    static constexpr std::uint16_t kRequestCarWakeUp = 1;
};

/// Diagnostics asks for a restart of this virtual machine or of the M3 processor.
struct DSAInterface
{
    static const char* service_identifier() { return "vela::ap::statemanager::DSAInterface"; }
    static kest::com::connector::Service_interface_description description() { return {service_identifier(), 0, 1}; }
    static constexpr std::uint16_t kRequestRestart = 0;
    /// The one instance of the DSA service.
    static const char* instance() { return "DSA_Interface"; }
};

} // namespace vela::ap::statemanager
