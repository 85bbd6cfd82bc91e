#include "statemanager/status/recording_nm_interface.hpp"

#include <utility>

namespace vela::ap::statemanager::status
{

using Nm_call = Holder_recorder_interface::Nm_call;

Recording_nm_interface::Recording_nm_interface(std::unique_ptr<Nm_interface_abstract> nm,
                                               std::shared_ptr<Holder_recorder_interface> recorder)
    : m_nm(std::move(nm))
    , m_recorder(std::move(recorder))
{
}

void Recording_nm_interface::release_network(const std::vector<std::uint8_t>& pattern)
{
    m_recorder->nm_call(Nm_call::release_network, pattern);
    m_nm->release_network(pattern);
}

void Recording_nm_interface::request_network(const std::vector<std::uint8_t>& pattern)
{
    m_recorder->nm_call(Nm_call::request_network, pattern);
    m_nm->request_network(pattern);
}

void Recording_nm_interface::set_user_data(const std::vector<std::uint8_t>& data)
{
    m_recorder->nm_call(Nm_call::set_user_data, data);
    m_nm->set_user_data(data);
}

void Recording_nm_interface::start_find_services(const std::function<void()>& on_found)
{
    m_nm->start_find_services(
        [on_found, recorder = m_recorder]
        {
            // Found before the completion runs: the calls it makes belong to a found NM.
            recorder->nm_services_found();
            on_found();
        });
}

void Recording_nm_interface::set_network_state_updated_func(
    const std::function<void(const std::vector<std::uint8_t>&)>& func)
{
    m_nm->set_network_state_updated_func(
        [func, recorder = m_recorder](const std::vector<std::uint8_t>& state)
        {
            recorder->network_state_received(state);
            func(state);
        });
}

void Recording_nm_interface::stop()
{
    m_nm->stop();
}

} // namespace vela::ap::statemanager::status
