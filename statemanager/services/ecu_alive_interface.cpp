#include "statemanager/services/ecu_alive_interface.hpp"

namespace vela::ap::statemanager::services
{

Ecu_alive_interface::Ecu_alive_interface(const std::string& instance, Ecu_alive_interface_callback* callback)
    : StateManagementAliveInterfaceSkeleton(instance, kest::com::cpp_binding::Method_call_processing_mode::kEvent)
    , m_callback(callback)
    , m_instance(instance)
{
}

Ecu_alive_interface::~Ecu_alive_interface()
{
    StopOfferService();
}

vela::com::Future<void> Ecu_alive_interface::ReleaseAlive()
{
    // The flag goes first: the callback's release logic must already see this application released.
    m_alive_requested.store(false);
    if (m_callback != nullptr)
    {
        m_callback->ecu_alive_release(m_instance);
    }
    return promise_release_alive();
}

vela::com::Future<void> Ecu_alive_interface::RequestAlive()
{
    m_alive_requested.store(true);
    if (m_callback != nullptr)
    {
        m_callback->ecu_alive_request(m_instance);
    }
    return promise_request_alive();
}

bool Ecu_alive_interface::app_keeps_ecu_alive() const
{
    return m_alive_requested.load();
}

const std::string& Ecu_alive_interface::get_app_id() const
{
    return m_instance;
}

vela::com::Future<void> Ecu_alive_interface::promise_request_alive()
{
    return vela::com::make_ready_future();
}

vela::com::Future<void> Ecu_alive_interface::promise_release_alive()
{
    return vela::com::make_ready_future();
}

} // namespace vela::ap::statemanager::services
