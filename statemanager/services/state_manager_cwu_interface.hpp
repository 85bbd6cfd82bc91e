#pragma once

#include "statemanager/services/state_manager_cwu_interface_abstract.hpp"

#include <string>

namespace vela::ap::statemanager
{

/// A car-wake-up service instance that forwards each call to the callbacks the service handler
/// sets (which book them under this instance's application id).
class State_manager_cwu_interface final : public State_manager_cwu_interface_abstract
{
  public:
    explicit State_manager_cwu_interface(const std::string& instance);
    ~State_manager_cwu_interface() override;

    State_manager_cwu_interface(const State_manager_cwu_interface&) = delete;
    State_manager_cwu_interface& operator=(const State_manager_cwu_interface&) = delete;

    vela::com::Future<void> ReleaseCarWakeUp() override;
    vela::com::Future<void> RequestCarWakeUp(std::uint8_t ac_value) override;

    const std::string& get_app_id() const override;
    void set_cwu_request_cb(Request_callback callback) override;
    void set_cwu_release_cb(Release_callback callback) override;
    vela::com::Future<void> promise_request_cwu_get_future() override;
    vela::com::Future<void> promise_release_cwu_get_future() override;

  private:
    std::string m_instance;
    // Both set on the main thread before the service is offered, then only called (middleware
    // workers); offering orders the write before every call.
    Request_callback m_request_cb;
    Release_callback m_release_cb;
};

} // namespace vela::ap::statemanager
