#pragma once

#include "testbed/nm_standin/recording_nm_services.hpp"
#include "tools/simulator/journal.hpp"

#include <cstdint>
#include <vector>

namespace tarn1::simulator
{

/// The UDP network management as the daemon sees it: NetworkStateInterface and UserDataInterface
/// of instance "UdpNm", whose every RequestNetwork, ReleaseNetwork and SetUserData becomes an "nm"
/// event. Offered while it exists.
class Nm_simulator final
{
  public:
    using Bytes = std::vector<std::uint8_t>;

    explicit Nm_simulator(Journal& journal);

    /// Sets the first NetworkState value and offers both services; throws when the middleware
    /// refuses the offer. Runner thread.
    void offer(const Bytes& state);
    /// Sends a NetworkState notification. Runner thread.
    void update(const Bytes& state);

  private:
    nm_standin::Recording_network_state m_network_state;
    nm_standin::Recording_user_data m_user_data;
};

} // namespace tarn1::simulator
