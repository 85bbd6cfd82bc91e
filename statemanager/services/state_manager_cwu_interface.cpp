#include "statemanager/services/state_manager_cwu_interface.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager
{

State_manager_cwu_interface::State_manager_cwu_interface(const std::string& instance)
    : State_manager_cwu_interface_abstract(instance)
    , m_instance(instance)
{
}

State_manager_cwu_interface::~State_manager_cwu_interface()
{
    StopOfferService();
}

vela::com::Future<void> State_manager_cwu_interface::ReleaseCarWakeUp()
{
    if (m_release_cb)
    {
        m_release_cb();
    }
    else
    {
        ara::log::LogWarn() << "ReleaseCarWakeUp on " + m_instance + " before its handler was set, ignored";
    }
    return promise_release_cwu_get_future();
}

vela::com::Future<void> State_manager_cwu_interface::RequestCarWakeUp(std::uint8_t ac_value)
{
    if (m_request_cb)
    {
        m_request_cb(ac_value);
    }
    else
    {
        ara::log::LogWarn() << "RequestCarWakeUp on " + m_instance + " before its handler was set, ignored";
    }
    return promise_request_cwu_get_future();
}

const std::string& State_manager_cwu_interface::get_app_id() const
{
    return m_instance;
}

void State_manager_cwu_interface::set_cwu_request_cb(Request_callback callback)
{
    m_request_cb = std::move(callback);
}

void State_manager_cwu_interface::set_cwu_release_cb(Release_callback callback)
{
    m_release_cb = std::move(callback);
}

vela::com::Future<void> State_manager_cwu_interface::promise_request_cwu_get_future()
{
    return vela::com::make_ready_future();
}

vela::com::Future<void> State_manager_cwu_interface::promise_release_cwu_get_future()
{
    return vela::com::make_ready_future();
}

} // namespace vela::ap::statemanager
