// Helper program of the interface and tool tests: offers DSAInterface ("DSA_Interface") and the two
// UDP NM interfaces (instance "nm") and reports each call on standard output ("RequestRestart 1",
// "RequestNetwork 00000001", ...). Commands on standard input: "state HEX" updates NetworkState,
// "quit" ends. Prints "offered" once all three are offered.
#include "kest/com/runtime/component_singleton.h"
#include "statemanager/skeleton/state_management_skeletons.hpp"
#include "testbed/support/recording_nm_services.hpp"

#include <iostream>
#include <string>

using namespace tarn1::testing;

namespace
{

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

} // namespace

int main()
{
    kest::com::runtime::Component_singleton runtime(false, "skeleton_test_peer");
    Dsa dsa("DSA_Interface");
    Recording_nm_services nm("nm");
    auto& network_state = nm.network_state;
    auto& user_data = nm.user_data;
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
            network_state.NetworkState.Update(from_hex(line.substr(6)));
            report("state set");
        }
        else if (line == "quit")
        {
            break;
        }
    }
    return 0;
}
