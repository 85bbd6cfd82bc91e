#include "tools/simulator/nm_simulator.hpp"

namespace tarn1::simulator
{

namespace
{

const char* const s_nm_instance = "UdpNm";

} // namespace

Nm_simulator::Nm_simulator(Journal& journal)
    : m_network_state(s_nm_instance, [&journal](const std::string& line) { journal.add("nm", line); })
    , m_user_data(s_nm_instance, [&journal](const std::string& line) { journal.add("nm", line); })
{
}

void Nm_simulator::offer(const Bytes& state)
{
    m_network_state.NetworkState.Update(state);
    m_network_state.OfferService();
    m_user_data.OfferService();
}

void Nm_simulator::update(const Bytes& state)
{
    m_network_state.NetworkState.Update(state);
}

} // namespace tarn1::simulator
