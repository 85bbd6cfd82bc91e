#include "statemanager/placeholders/placeholders.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::placeholders
{

void announce_placeholder(const std::string& what)
{
    ara::log::LogWarn() << "placeholder: " << what << " not built yet";
}

void Com_runtime_placeholder::announce() const
{
    announce_placeholder("communication runtime");
}

Nm_interface_placeholder::Nm_interface_placeholder()
{
    announce_placeholder("UDP NM client");
}

Com_alive_interface_placeholder::Com_alive_interface_placeholder(const std::string& instance)
    : m_instance(instance)
{
    announce_placeholder("COM-alive service " + instance);
}

Cwu_interface_placeholder::Cwu_interface_placeholder(const std::string& instance)
    : m_instance(instance)
{
    announce_placeholder("car-wake-up service " + instance);
}

Service_handler_placeholder::Service_handler_placeholder()
{
    announce_placeholder("service handler");
}

Service_handler_placeholder::Service_handler_placeholder(
    const config::State_manager_config_abstract& /*config*/,
    std::unique_ptr<Nm_interface_abstract> nm,
    std::vector<std::unique_ptr<State_manager_com_alive_interface_abstract>> com_alive,
    std::vector<std::unique_ptr<State_manager_cwu_interface_abstract>> cwu)
    : m_nm(std::move(nm))
    , m_com_alive(std::move(com_alive))
    , m_cwu(std::move(cwu))
{
    announce_placeholder("service handler");
}

} // namespace vela::ap::statemanager::placeholders
