#pragma once

#include "statemanager/services/state_manager_com_alive_interface_abstract.hpp"

#include <string>

namespace vela::ap::statemanager
{

/// A COM-alive service instance that forwards each call, with its arguments, to the callbacks the
/// service handler sets (which book them under this instance's application id).
class State_manager_com_alive_interface final : public State_manager_com_alive_interface_abstract
{
  public:
    explicit State_manager_com_alive_interface(const std::string& instance);
    ~State_manager_com_alive_interface() override;

    State_manager_com_alive_interface(const State_manager_com_alive_interface&) = delete;
    State_manager_com_alive_interface& operator=(const State_manager_com_alive_interface&) = delete;

    vela::com::Future<void> ReleaseComAlive(const std::vector<std::uint8_t>& cab_bits) override;
    vela::com::Future<void> RequestComAlive(const std::vector<std::uint8_t>& cab_bits, std::uint8_t ac_value) override;

    const std::string& get_app_id() const override;
    void set_com_alive_request_cb(Request_callback callback) override;
    void set_com_alive_release_cb(Release_callback callback) override;
    vela::com::Future<void> promise_request_com_alive_get_future() override;
    vela::com::Future<void> promise_release_com_alive_get_future() override;

  private:
    std::string m_instance;
    // Both set on the main thread before the service is offered, then only called (middleware
    // workers); offering orders the write before every call.
    Request_callback m_request_cb;
    Release_callback m_release_cb;
};

} // namespace vela::ap::statemanager
