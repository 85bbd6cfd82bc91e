// Helper program of the interface and tool tests: offers DSAInterface ("DSA_Interface") and the two
// UDP NM interfaces (instance "nm") and reports each call on standard output ("RequestRestart 1",
// "RequestNetwork 00000001", ...). Commands on standard input: "state HEX" updates NetworkState,
// "quit" ends. Prints "offered" once all three are offered.
#include "kest/com/runtime/component_singleton.h"
#include "statemanager/proxy/network_state_interface_skeleton.hpp"
#include "statemanager/proxy/user_data_interface_skeleton.hpp"
#include "statemanager/skeleton/dsa_interface_skeleton.hpp"

#include <iomanip>
#include <iostream>
#include <mutex>
#include <sstream>

namespace
{

using Bytes = std::vector<std::uint8_t>;

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

class Dsa : public vela::ap::statemanager::skeleton::DSAInterfaceSkeleton
{
  public:
    using DSAInterfaceSkeleton::DSAInterfaceSkeleton;
    ~Dsa() override { StopOfferService(); }
    vela::com::Future<void> RequestRestart(std::uint8_t restart_type) override
    {
        report("RequestRestart " + std::to_string(restart_type));
        return vela::com::make_ready_future();
    }
};

class Network_state : public kest::udpnm::interface::skeleton::NetworkStateInterfaceSkeleton
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

class User_data : public kest::udpnm::interface::skeleton::UserDataInterfaceSkeleton
{
  public:
    using UserDataInterfaceSkeleton::UserDataInterfaceSkeleton;
    ~User_data() override { StopOfferService(); }
    vela::com::Future<Bytes> GetUserData() override
    {
        vela::com::Promise<Bytes> promise;
        promise.set_value(m_data);
        return promise.get_future();
    }
    vela::com::Future<void> SetUserData(const Bytes& data) override
    {
        m_data = data;
        report("SetUserData " + hex(data));
        return vela::com::make_ready_future();
    }

  private:
    Bytes m_data;
};

} // namespace

int main()
{
    kest::com::runtime::Component_singleton runtime(false, "skeleton_test_peer");
    Dsa dsa("DSA_Interface");
    Network_state network_state("nm");
    User_data user_data("nm");
    network_state.NetworkState.Update(Bytes{0});
    dsa.OfferService();
    network_state.OfferService();
    user_data.OfferService();
    report("offered");
    std::string line;
    while (std::getline(std::cin, line))
    {
        if (line.rfind("state ", 0) == 0)
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
