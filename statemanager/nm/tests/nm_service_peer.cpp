// Helper program of the NM client tests: plays the platform's UDP network management in its own
// process. Commands on standard input, one per line:
//   "offer network_state" / "offer user_data"      offer that service (instance "nm")
//   "withdraw network_state" / "withdraw user_data" stop offering it
//   "state HEX"                                     new NetworkState value (HEX: two digits a byte)
//   "answer ok" / "answer error HEX" / "answer silent" how calls are answered from now on: at once
//                                                   (the default; held calls are answered now),
//                                                   with return code HEX, or never
//   "quit"
// Each command is acknowledged on standard output ("network_state offered", "state set", ...), and
// each call received is reported ("RequestNetwork 00000001", "SetUserData 800000", ...).
#include "kest/com/runtime/component_singleton.h"
#include "testbed/support/recording_nm_services.hpp"

#include <cstdint>
#include <iostream>
#include <string>

using namespace tarn1::testing;

int main()
{
    kest::com::runtime::Component_singleton runtime(false, "nm_service_peer");
    Recording_nm_services nm("nm");
    auto& network_state = nm.network_state;
    auto& user_data = nm.user_data;
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
            network_state.NetworkState.Update(from_hex(line.substr(6)));
            report("state set");
        }
        else if (line == "answer ok")
        {
            nm.answers.answer_ok();
            report("answering ok");
        }
        else if (line.rfind("answer error ", 0) == 0)
        {
            const Bytes code = from_hex(line.substr(13));
            nm.answers.answer_error(code.empty() ? std::uint8_t{0x01} : code.front());
            report("answering error");
        }
        else if (line == "answer silent")
        {
            nm.answers.stay_silent();
            report("answering silent");
        }
        else if (line == "quit")
        {
            break;
        }
    }
    return 0;
}
