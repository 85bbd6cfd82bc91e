#pragma once

// The UDP NM side played without a UDP NM: both NM services offered as instances of their generated
// skeletons, each call told to a report function as one line ("RequestNetwork 00000001",
// "SetUserData 800000"); GetUserData answers with the last user data set.

#include "statemanager/proxy/network_state_interface_skeleton.hpp"
#include "statemanager/proxy/user_data_interface_skeleton.hpp"

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace tarn1::nm_standin
{

using Bytes = std::vector<std::uint8_t>;
/// Hears one line per call; on the middleware's worker threads.
using Report = std::function<void(const std::string& line)>;

/// Two lower-case hex digits per byte, no separator.
std::string hex(const Bytes& bytes);

class Recording_network_state final : public kest::udpnm::interface::skeleton::NetworkStateInterfaceSkeleton
{
  public:
    Recording_network_state(const std::string& instance, Report report);
    ~Recording_network_state() override;

    vela::com::Future<void> ReleaseNetwork(const Bytes& pattern) override;
    vela::com::Future<void> RequestNetwork(const Bytes& pattern) override;

  private:
    Report m_report;
};

class Recording_user_data final : public kest::udpnm::interface::skeleton::UserDataInterfaceSkeleton
{
  public:
    Recording_user_data(const std::string& instance, Report report);
    ~Recording_user_data() override;

    vela::com::Future<Bytes> GetUserData() override;
    vela::com::Future<void> SetUserData(const Bytes& data) override;

  private:
    Report m_report;
    // Guards m_data: callers of different proxies may reach it on different worker threads.
    std::mutex m_mutex;
    Bytes m_data;
};

} // namespace tarn1::nm_standin
