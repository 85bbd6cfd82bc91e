#pragma once

#include "statemanager/nm/nm_interface_abstract.hpp"
#include "statemanager/status/holder_recorder_interface.hpp"

#include <memory>

namespace vela::ap::statemanager::status
{

/// Passes every call to the UDP NM client it wraps, noting on the way what is sent, what
/// NetworkState says and when both services are found. Its callers and threads are those of the
/// client it wraps; recording only takes the status data's own lock.
class Recording_nm_interface final : public Nm_interface_abstract
{
  public:
    Recording_nm_interface(std::unique_ptr<Nm_interface_abstract> nm,
                           std::shared_ptr<Holder_recorder_interface> recorder);

    void release_network(const std::vector<std::uint8_t>& pattern) override;
    void request_network(const std::vector<std::uint8_t>& pattern) override;
    void set_user_data(const std::vector<std::uint8_t>& data) override;
    void start_find_services(const std::function<void()>& on_found) override;
    void set_network_state_updated_func(const std::function<void(const std::vector<std::uint8_t>&)>& func) override;
    void stop() override;

  private:
    std::unique_ptr<Nm_interface_abstract> m_nm;
    std::shared_ptr<Holder_recorder_interface> m_recorder;
};

} // namespace vela::ap::statemanager::status
