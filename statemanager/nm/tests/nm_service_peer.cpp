// Helper program of the NM client tests: plays the platform's UDP network management in its own
// process. Commands on standard input, one per line:
//   "offer network_state" / "offer user_data"      offer that service (instance "nm")
//   "withdraw network_state" / "withdraw user_data" stop offering it
//   "state HEX"                                     new NetworkState value (HEX: two digits a byte)
//   "quit"
// Each command is acknowledged on standard output ("network_state offered", "state set", ...), and
// each call received is reported ("RequestNetwork 00000001", "SetUserData 800000", ...).
#include "kest/com/runtime/component_singleton.h"
#include "statemanager/proxy/network_state_interface_skeleton.hpp"
#include "statemanager/proxy/user_data_interface_skeleton.hpp"

#include <iomanip>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>

namespace
{

using Bytes = std::vector<std::uint8_t>;

// Guards standard output: written by the middleware's workers and the command loop.
std::mutex s_output_mutex;

void report(const std::string& line)
{
    std::lock_guard<std::mutex> lock(s_output_mutex);
    std::cout << line << std::endl;
}

std::string hex(const Bytes& bytes)
{
    std::ostringstream text;
    for (const auto byte : bytes)
    {
        text << std::hex << std::setw(2) << std::setfill('0') << static_cast<unsigned>(byte);
    }
    return text.str();
}

class Network_state final : public kest::udpnm::interface::skeleton::NetworkStateInterfaceSkeleton
{
public:
    using NetworkStateInterfaceSkeleton::NetworkStateInterfaceSkeleton;
    ~Network_state() override { StopOfferService(); }
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

class User_data final : public kest::udpnm::interface::skeleton::UserDataInterfaceSkeleton
{
public:
    using UserDataInterfaceSkeleton::UserDataInterfaceSkeleton;
    ~User_data() override { StopOfferService(); }
    vela::com::Future<Bytes> GetUserData() override
    {
        vela::com::Promise<Bytes> promise;
        promise.set_value(Bytes{});
        return promise.get_future();
    }
    vela::com::Future<void> SetUserData(const Bytes& data) override
    {
        report("SetUserData " + hex(data));
        return vela::com::make_ready_future();
    }
};

} // namespace

int main()
{
    kest::com::runtime::Component_singleton runtime(false, "nm_service_peer");
    Network_state network_state("nm");
    User_data user_data("nm");
    network_state.NetworkState.Update(Bytes{0x00});
    std::string line;
    while (std::getline(std::cin, line))
    {
        if (line == "offer network_state")
        {
            network_state.OfferService();
            report("network_state offered");
        }
        else if (line == "offer user_data")
        {
            user_data.OfferService();
            report("user_data offered");
        }
        else if (line == "withdraw network_state")
        {
            network_state.StopOfferService();
            report("network_state withdrawn");
        }
        else if (line == "withdraw user_data")
        {
            user_data.StopOfferService();
            report("user_data withdrawn");
        }
        else if (line.rfind("state ", 0) == 0)
        {
            Bytes value;
            const std::string digits = line.substr(6);
            for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
            {
                value.push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
            }
            network_state.NetworkState.Update(value);
            report("state set");
        }
        else if (line == "quit")
        {
            break;
        }
    }
    return 0;
}
