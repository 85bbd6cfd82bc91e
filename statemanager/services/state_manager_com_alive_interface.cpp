#include "statemanager/services/state_manager_com_alive_interface.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager
{

State_manager_com_alive_interface::State_manager_com_alive_interface(const std::string& instance)
    : State_manager_com_alive_interface_abstract(instance)
    , m_instance(instance)
{
}

State_manager_com_alive_interface::~State_manager_com_alive_interface()
{
    StopOfferService();
}

vela::com::Future<void> State_manager_com_alive_interface::ReleaseComAlive(const std::vector<std::uint8_t>& cab_bits)
{
    if (m_release_cb)
    {
        m_release_cb(cab_bits);
    }
    else
    {
        ara::log::LogWarn() << "ReleaseComAlive on " + m_instance + " before its handler was set, ignored";
    }
    return promise_release_com_alive_get_future();
}

vela::com::Future<void> State_manager_com_alive_interface::RequestComAlive(const std::vector<std::uint8_t>& cab_bits,
                                                                           std::uint8_t ac_value)
{
    if (m_request_cb)
    {
        m_request_cb(cab_bits, ac_value);
    }
    else
    {
        ara::log::LogWarn() << "RequestComAlive on " + m_instance + " before its handler was set, ignored";
    }
    return promise_request_com_alive_get_future();
}

const std::string& State_manager_com_alive_interface::get_app_id() const
{
    return m_instance;
}

void State_manager_com_alive_interface::set_com_alive_request_cb(Request_callback callback)
{
    m_request_cb = std::move(callback);
}

void State_manager_com_alive_interface::set_com_alive_release_cb(Release_callback callback)
{
    m_release_cb = std::move(callback);
}

vela::com::Future<void> State_manager_com_alive_interface::promise_request_com_alive_get_future()
{
    return vela::com::make_ready_future();
}

vela::com::Future<void> State_manager_com_alive_interface::promise_release_com_alive_get_future()
{
    return vela::com::make_ready_future();
}

} // namespace vela::ap::statemanager
