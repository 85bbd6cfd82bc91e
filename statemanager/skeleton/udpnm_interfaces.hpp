#pragma once

#include "kest/com/connector/service_interface_description.h"

#include <cstdint>

// The two service interfaces of the UDP network management that the state manager uses.

namespace kest::udpnm::interface
{

/// Network requests and releases with a bit pattern, and the network state as a field.
struct NetworkStateInterface
{
    static const char* service_identifier() { return "kest::udpnm::interface::NetworkStateInterface"; }
    static kest::com::connector::Service_interface_description description() { return {service_identifier(), 1, 3}; }
    static constexpr std::uint16_t kReleaseNetwork = 0;
    static constexpr std::uint16_t kRequestNetwork = 1;
    /// The getter of the NetworkState field (never called by the state manager).
    static constexpr std::uint16_t kNetworkStateGet = 2;
    /// The change notification of the NetworkState field.
    static constexpr std::uint16_t kNetworkStateEvent = 0;
};

/// The user data the NM puts into its messages.
struct UserDataInterface
{
    static const char* service_identifier() { return "kest::udpnm::interface::UserDataInterface"; }
    static kest::com::connector::Service_interface_description description() { return {service_identifier(), 1, 2}; }
    /// Never called by the state manager.
    static constexpr std::uint16_t kGetUserData = 0;
    static constexpr std::uint16_t kSetUserData = 1;
    /// Not subscribed by the state manager.
    static constexpr std::uint16_t kUserDataChangedEvent = 0;
};

} // namespace kest::udpnm::interface
