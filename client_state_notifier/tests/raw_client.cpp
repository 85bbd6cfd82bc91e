#include "client_state_notifier/tests/raw_client.hpp"

#include <stdexcept>
#include <sys/socket.h>
#include <thread>

namespace client_state_notifier::testing
{

Raw_client::Raw_client(const std::string& path)
    : m_socket(AF_UNIX, SOCK_STREAM, 0)
{
    const auto address = utilities::create_unix_address(path);
    const bool connected = wait_until(
        [&]
        { return ::connect(m_socket.get_fd(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0; });
    if (!connected)
    {
        throw std::runtime_error("no server at " + path);
    }
}

void Raw_client::send_hello(const std::string& name, const std::string& state)
{
    utilities::send_type_length_values(
        m_socket,
        utilities::Elements{utilities::Type_length_value(utilities::get_protocol_version_one()),
                            utilities::Type_length_value(name),
                            utilities::Type_length_value(state)});
}

void Raw_client::answer(std::uint32_t id, const std::string& state, std::uint32_t code)
{
    utilities::Bytes bytes;
    utilities::write_state_change_response(bytes, id, state, code);
    send_bytes(bytes);
}

void Raw_client::send_bytes(const utilities::Bytes& bytes)
{
    m_socket.sendl(bytes.data(), bytes.size(), 0);
}

std::optional<Raw_client::Request> Raw_client::receive_request(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!m_reader.next_frame(m_view))
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !m_socket.poll(POLLIN, static_cast<std::int32_t>(left.count())).second)
        {
            return std::nullopt;
        }
        m_reader.read_available(m_socket);
    }
    if (m_view.count < 2)
    {
        throw std::runtime_error("request with too few elements");
    }
    return Request{m_view.elements[0].get_uint32(), m_view.elements[1].get_string()};
}

bool Raw_client::receives_nothing(std::chrono::milliseconds timeout)
{
    return !receive_request(timeout).has_value();
}

bool Raw_client::closed_by_server(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    try
    {
        while (true)
        {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !m_socket.poll(POLLIN, static_cast<std::int32_t>(left.count())).second)
            {
                return false;
            }
            m_reader.read_available(m_socket);
            while (m_reader.next_frame(m_view))
            {
            }
        }
    }
    catch (const utilities::ExceptionSocketClosed&)
    {
        return true;
    }
    catch (const std::system_error&)
    {
        return true;
    }
}

Completion_callback Callback_recorder::completion_callback(std::string tag)
{
    return [this, tag](Callback_status status, const Result_map& results)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_completions.push_back(Completion{tag, status, results});
        }
        m_changed.notify_all();
    };
}

Client_status_callback Callback_recorder::status_callback()
{
    return [this](const std::string& name, Client_status status, const std::string& state)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_status_events.push_back(Status_event{name, status, state});
        m_blocked = m_gate_closed;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_gate_closed; });
        m_blocked = false;
    };
}

std::optional<Callback_recorder::Completion> Callback_recorder::wait_completion(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_changed.wait_for(lock, timeout, [this] { return m_completions.size() > m_taken; }))
    {
        return std::nullopt;
    }
    return m_completions[m_taken++];
}

bool Callback_recorder::wait_status_events(std::size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this, count] { return m_status_events.size() >= count; });
}

std::vector<Callback_recorder::Completion> Callback_recorder::completions() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_completions;
}

std::vector<Callback_recorder::Status_event> Callback_recorder::status_events() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_status_events;
}

void Callback_recorder::close_gate()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_gate_closed = true;
}

void Callback_recorder::open_gate()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gate_closed = false;
    }
    m_changed.notify_all();
}

bool Callback_recorder::wait_blocked(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_blocked; });
}

std::size_t held_back_count(const std::string& text)
{
    static const std::string s_suffix = " similar messages suppressed)";
    const auto open = text.rfind(" (");
    if (open == std::string::npos || text.size() < s_suffix.size() ||
        text.compare(text.size() - s_suffix.size(), s_suffix.size(), s_suffix) != 0)
    {
        return 0;
    }
    return std::stoul(text.substr(open + 2));
}

bool wait_until(const std::function<bool()>& predicate, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate())
    {
        if (std::chrono::steady_clock::now() >= deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace client_state_notifier::testing
