#include "client_state_notifier/client_states_impl.hpp"

#include "client_state_notifier/server.hpp"
#include "client_state_notifier/socket.hpp"
#include "client_state_notifier/type_length_value.hpp"
#include "client_state_notifier/utilities.hpp"

#include <algorithm>
#include <exception>
#include <functional>
#include <mutex>
#include <utility>

namespace client_state_notifier
{

using utilities::get_logger;
using Clock = std::chrono::steady_clock;

namespace
{

ara::log::LogStream log(ara::log::LogLevel level)
{
    return ara::log::LogStream(level, get_logger());
}

} // namespace

std::unique_ptr<Client_states> create_client_states(const std::string& default_state,
                                                    Client_status_callback client_status_callback,
                                                    const Server_options& options)
{
    return std::make_unique<Client_states_impl>(default_state, std::move(client_status_callback), options);
}

Client_states_impl::Client_states_impl(std::string default_state,
                                       Client_status_callback client_status_callback,
                                       Server_options options)
{
    if (!client_status_callback)
    {
        throw std::bad_function_call();
    }
    m_shared.default_state = std::move(default_state);
    auto sockets = utilities::socket_pair();
    m_wakeup = std::move(sockets.first);
    m_thread = std::thread(thread_main_exception_handling,
                           std::move(sockets.second),
                           std::move(client_status_callback),
                           std::ref(m_shared),
                           std::move(options));
    // Whoever learns that the server exists (the state manager reports its readiness after
    // creating it) may connect at once.
    std::unique_lock<std::mutex> lock(m_shared.pending_request_mutex);
    m_shared.server_started.wait(lock, [this] { return m_shared.listening || m_shared.server_stopped; });
}

Client_states_impl::~Client_states_impl()
{
    try
    {
        std::lock_guard<std::mutex> lock(m_wakeup_mutex);
        utilities::send_type_length_values(m_wakeup, utilities::create_terminate_command());
    }
    catch (const std::exception& error)
    {
        log(ara::log::LogLevel::kWarn) << error.what();
    }
    try
    {
        if (m_thread.joinable())
        {
            m_thread.join();
        }
    }
    catch (const std::exception& error)
    {
        log(ara::log::LogLevel::kWarn) << error.what();
    }
}

std::vector<std::pair<std::string, std::string>> Client_states_impl::get_connected_clients() const
{
    std::lock_guard<std::mutex> lock(m_shared.clients_mutex);
    std::vector<std::pair<std::string, std::string>> clients;
    clients.reserve(m_shared.clients.size());
    for (const auto& entry : m_shared.clients)
    {
        clients.emplace_back(entry.second.name, entry.second.current_state);
    }
    return clients;
}

void Client_states_impl::set_default_state(std::string state)
{
    std::lock_guard<std::mutex> lock(m_shared.default_state_mutex);
    m_shared.default_state = std::move(state);
}

void Client_states_impl::request_state_change(const std::string& state,
                                              Filter filter,
                                              Completion_callback callback,
                                              const std::chrono::seconds& timeout)
{
    request_state_change_observed(state, std::move(filter), std::move(callback), timeout, nullptr);
}

void Client_states_impl::request_state_change_observed(const std::string& state,
                                                       Filter filter,
                                                       Completion_callback callback,
                                                       const std::chrono::seconds& timeout,
                                                       std::shared_ptr<Request_observer> observer)
{
    if (!filter || !callback)
    {
        throw std::bad_function_call();
    }
    const auto now = Clock::now();
    auto request = std::make_unique<State_change_request>(
        State_change_request{state, std::move(filter), std::move(callback), now + timeout, now, std::move(observer)});

    std::lock_guard<std::mutex> lock(m_shared.pending_request_mutex);
    if (m_shared.server_stopped)
    {
        throw Exception_server_stopped("client states server has ended; request for " + state + " not sent");
    }
    // One command announces a pending request; a request that replaces one still pending
    // rides on the command already sent. So at most one command is ever in flight and the
    // sender never blocks on a full socket while it holds this lock.
    const bool announce = !m_shared.pending_request;
    m_shared.pending_request = std::move(request);
    if (!announce)
    {
        return;
    }
    std::lock_guard<std::mutex> wakeup_lock(m_wakeup_mutex);
    try
    {
        utilities::send_type_length_values(m_wakeup, create_state_change_request_added_message());
    }
    catch (...)
    {
        m_shared.pending_request.reset();
        throw;
    }
}

utilities::Elements create_state_change_request(std::uint32_t request_id, const std::string& state)
{
    return utilities::Elements{utilities::Type_length_value(request_id), utilities::Type_length_value(state)};
}

utilities::Elements create_state_change_request_added_message()
{
    return utilities::Elements{utilities::Type_length_value(utilities::get_state_change_request_added())};
}

Callback_status get_overall_status(const Result_map& results)
{
    for (const auto& entry : results)
    {
        if (entry.second != Component_client_return_type::success)
        {
            return Callback_status::error;
        }
    }
    return Callback_status::success;
}

bool is_name_duplicated(const Client_map& clients, const std::string& name)
{
    return std::any_of(
        clients.begin(), clients.end(), [&name](const auto& entry) { return entry.second.name == name; });
}

} // namespace client_state_notifier
