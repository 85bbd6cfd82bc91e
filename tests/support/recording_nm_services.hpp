#pragma once

// The UDP NM side as the helper programs of the tests play it: both NM services offered as
// instances of their generated skeletons, each call reported on standard output as one line
// ("RequestNetwork 00000001", "SetUserData 800000"). Header-only; each helper program includes it.

#include "statemanager/proxy/network_state_interface_skeleton.hpp"
#include "statemanager/proxy/user_data_interface_skeleton.hpp"

#include <cstdint>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace tarn1::testing
{

using Bytes = std::vector<std::uint8_t>;

/// One line on standard output; lines of the middleware's workers and the command loop never mix.
inline void report(const std::string& line)
{
    static std::mutex output_mutex;
    std::lock_guard<std::mutex> lock(output_mutex);
    std::cout << line << std::endl;
}

/// Two lower-case hex digits per byte, no separator.
inline std::string hex(const Bytes& bytes)
{
    std::ostringstream text;
    for (const auto byte : bytes)
    {
        text << std::hex << std::setw(2) << std::setfill('0') << static_cast<unsigned>(byte);
    }
    return text.str();
}

/// The reverse of hex(); a trailing odd digit is ignored.
inline Bytes from_hex(const std::string& digits)
{
    Bytes value;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
    {
        value.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return value;
}

class Recording_network_state final : public kest::udpnm::interface::skeleton::NetworkStateInterfaceSkeleton
{
public:
    using NetworkStateInterfaceSkeleton::NetworkStateInterfaceSkeleton;
    ~Recording_network_state() override { StopOfferService(); }
    vela::com::Future<void> ReleaseNetwork(const Bytes& pattern) override
    {
        report("ReleaseNetwork " + hex(pattern));
        return vela::com::make_ready_future();
    }
    vela::com::Future<void> RequestNetwork(const Bytes& pattern) override
    {
        report("RequestNetwork " + hex(pattern));
        return vela::com::make_ready_future();
    }
};

/// Keeps the last user data set, so GetUserData answers with it.
class Recording_user_data final : public kest::udpnm::interface::skeleton::UserDataInterfaceSkeleton
{
public:
    using UserDataInterfaceSkeleton::UserDataInterfaceSkeleton;
    ~Recording_user_data() override { StopOfferService(); }
    vela::com::Future<Bytes> GetUserData() override
    {
        vela::com::Promise<Bytes> promise;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            promise.set_value(m_data);
        }
        return promise.get_future();
    }
    vela::com::Future<void> SetUserData(const Bytes& data) override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_data = data;
        }
        report("SetUserData " + hex(data));
        return vela::com::make_ready_future();
    }

private:
    // Guards m_data: callers of different proxies may reach it on different worker threads.
    std::mutex m_mutex;
    Bytes m_data;
};

} // namespace tarn1::testing
