#include "tools/nm_standin/recording_nm_services.hpp"

namespace tarn1::nm_standin
{

std::string hex(const Bytes& bytes)
{
    static const char* const s_digits = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const auto byte : bytes)
    {
        text += s_digits[byte >> 4];
        text += s_digits[byte & 0x0F];
    }
    return text;
}

Recording_network_state::Recording_network_state(const std::string& instance, Report report)
    : NetworkStateInterfaceSkeleton(instance)
    , m_report(std::move(report))
{
}

Recording_network_state::~Recording_network_state()
{
    StopOfferService();
}

vela::com::Future<void> Recording_network_state::ReleaseNetwork(const Bytes& pattern)
{
    m_report("ReleaseNetwork " + hex(pattern));
    return vela::com::make_ready_future();
}

vela::com::Future<void> Recording_network_state::RequestNetwork(const Bytes& pattern)
{
    m_report("RequestNetwork " + hex(pattern));
    return vela::com::make_ready_future();
}

Recording_user_data::Recording_user_data(const std::string& instance, Report report)
    : UserDataInterfaceSkeleton(instance)
    , m_report(std::move(report))
{
}

Recording_user_data::~Recording_user_data()
{
    StopOfferService();
}

vela::com::Future<Bytes> Recording_user_data::GetUserData()
{
    vela::com::Promise<Bytes> promise;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        promise.set_value(m_data);
    }
    return promise.get_future();
}

vela::com::Future<void> Recording_user_data::SetUserData(const Bytes& data)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_data = data;
    }
    m_report("SetUserData " + hex(data));
    return vela::com::make_ready_future();
}

} // namespace tarn1::nm_standin
