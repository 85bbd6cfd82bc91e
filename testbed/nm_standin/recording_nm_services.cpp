#include "testbed/nm_standin/recording_nm_services.hpp"

#include "kest/com/exceptions.h"

#include <exception>

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

void Answer_policy::answer_ok()
{
    std::vector<vela::com::Promise<void>> held;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_mode = Mode::ok;
        held.swap(m_held);
    }
    for (auto& promise : held)
    {
        promise.set_value();
    }
}

void Answer_policy::answer_error(std::uint8_t return_code)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mode = Mode::error;
    m_return_code = return_code;
}

void Answer_policy::stay_silent()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mode = Mode::silent;
}

vela::com::Future<void> Answer_policy::completion()
{
    vela::com::Promise<void> promise;
    vela::com::Future<void> future = promise.get_future();
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (m_mode)
    {
    case Mode::ok:
        promise.set_value();
        break;
    case Mode::error:
        promise.set_exception(
            std::make_exception_ptr(kest::com::cpp_binding::Application_error_exception(m_return_code)));
        break;
    case Mode::silent:
        m_held.push_back(std::move(promise));
        break;
    }
    return future;
}

namespace
{

vela::com::Future<void> completion(Answer_policy* answers)
{
    return answers != nullptr ? answers->completion() : vela::com::make_ready_future();
}

} // namespace

Recording_network_state::Recording_network_state(const std::string& instance, Report report, Answer_policy* answers)
    : NetworkStateInterfaceSkeleton(instance)
    , m_report(std::move(report))
    , m_answers(answers)
{
}

Recording_network_state::~Recording_network_state()
{
    StopOfferService();
}

vela::com::Future<void> Recording_network_state::ReleaseNetwork(const Bytes& pattern)
{
    m_report("ReleaseNetwork " + hex(pattern));
    return completion(m_answers);
}

vela::com::Future<void> Recording_network_state::RequestNetwork(const Bytes& pattern)
{
    m_report("RequestNetwork " + hex(pattern));
    return completion(m_answers);
}

Recording_user_data::Recording_user_data(const std::string& instance, Report report, Answer_policy* answers)
    : UserDataInterfaceSkeleton(instance)
    , m_report(std::move(report))
    , m_answers(answers)
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
    return completion(m_answers);
}

} // namespace tarn1::nm_standin
