#include "client_state_notifier/component_client.hpp"

#include "client_state_notifier/frame_reader.hpp"
#include "client_state_notifier/utilities.hpp"

#include <sys/socket.h>

namespace client_state_notifier
{

using utilities::get_logger;
using utilities::Socket;

Component_client::Component_client(std::string name,
                                   State_change_handler handler,
                                   std::string initial_state,
                                   Component_client_options options)
    : m_name(std::move(name))
    , m_handler(std::move(handler))
    , m_options(std::move(options))
    , m_state(std::move(initial_state))
{
    if (!m_handler)
    {
        throw std::bad_function_call();
    }
    auto sockets = utilities::socket_pair();
    m_stop = std::move(sockets.first);
    m_stop_sender = std::move(sockets.second);
    m_thread = std::thread([this] { run(); });
}

Component_client::~Component_client()
{
    try
    {
        const std::uint8_t stop = 1;
        m_stop_sender.sendl(&stop, 1, 0);
        if (m_thread.joinable())
        {
            m_thread.join();
        }
    }
    catch (const std::exception& error)
    {
        ara::log::LogStream(ara::log::LogLevel::kWarn, get_logger())
            << "stopping client " << m_name << " failed: " << error.what();
    }
}

bool Component_client::is_connected() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connected;
}

std::string Component_client::get_state() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_state;
}

bool Component_client::wait_until_connected(std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_connected_changed.wait_for(lock, timeout, [this] { return m_connected; });
}

void Component_client::set_connected(bool connected)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_connected = connected;
    }
    m_connected_changed.notify_all();
}

void Component_client::run() noexcept
{
    try
    {
        const auto address = utilities::create_unix_address(m_options.socket_path);
        while (true)
        {
            Socket connection(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (!connection.try_connect(address, m_stop))
            {
                return;
            }
            try
            {
                utilities::send_type_length_values(
                    connection,
                    utilities::Elements{utilities::Type_length_value(utilities::get_protocol_version_one()),
                                        utilities::Type_length_value(m_name),
                                        utilities::Type_length_value(get_state())});
                set_connected(true);
                ara::log::LogStream(ara::log::LogLevel::kInfo, get_logger()) << "client " << m_name << " connected";
                if (!serve(connection))
                {
                    set_connected(false);
                    return;
                }
            }
            catch (const std::exception& error)
            {
                ara::log::LogStream(ara::log::LogLevel::kInfo, get_logger())
                    << "client " << m_name << " lost its connection, connecting again: " << error.what();
            }
            set_connected(false);
            const auto [revents, stopped] =
                m_stop.poll(POLLIN, static_cast<std::int32_t>(m_options.reconnect_pause.count()));
            if (stopped && revents != 0)
            {
                return;
            }
        }
    }
    catch (const std::exception& error)
    {
        set_connected(false);
        ara::log::LogStream(ara::log::LogLevel::kError, get_logger())
            << "client " << m_name << " stopped: " << error.what();
    }
}

bool Component_client::serve(const Socket& connection)
{
    utilities::Frame_reader reader;
    utilities::Frame_view request;
    utilities::Bytes answer_bytes;
    std::vector<pollfd> fds{{connection.get_fd(), POLLIN, 0}, {m_stop.get_fd(), POLLIN, 0}};
    while (true)
    {
        fds[0].revents = 0;
        fds[1].revents = 0;
        utilities::poll(fds, -1);
        if (fds[1].revents != 0)
        {
            return false;
        }
        if (!reader.read_available(connection))
        {
            continue;
        }
        while (reader.next_frame(request))
        {
            if (request.count < 2)
            {
                throw utilities::Exception_bad_frame("state change request with too few elements");
            }
            const auto id = request.elements[0].get_uint32();
            const auto requested = request.elements[1].get_string();
            State_change_answer answer;
            try
            {
                answer = m_handler(requested);
            }
            catch (const std::exception& error)
            {
                ara::log::LogStream(ara::log::LogLevel::kError, get_logger())
                    << "client " << m_name << " failed to enter " << requested << ": " << error.what();
                answer = State_change_answer{get_state(), Component_client_return_type::general_error};
            }
            if (answer.code == Component_client_return_type::success)
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_state = answer.state;
            }
            utilities::write_state_change_response(
                answer_bytes, id, answer.state, static_cast<std::uint32_t>(answer.code));
            connection.sendl(answer_bytes.data(), answer_bytes.size(), 0);
        }
    }
}

} // namespace client_state_notifier
