#include "iam/session.hpp"

#include "iam/iam_logger.hpp"
#include "vela/iam/messages.hpp"

#include <asio/buffer.hpp>
#include <asio/write.hpp>
#include <string_view>

namespace vela::iam
{

Session::Session(asio::io_context& io_service,
                 std::uint32_t session_id,
                 std::uint64_t& request_counter,
                 Iam_clients_factory_interface& clients_factory,
                 std::shared_ptr<Session_log_limits> log_limits)
    : m_socket(io_service)
    , m_request_handler(clients_factory)
    , m_session_id(session_id)
    , m_request_counter(request_counter)
    , m_log_limits(std::move(log_limits))
{
    iam_logger().LogDebug() << "Session::Session: session id: " << m_session_id;
}

Session::~Session()
{
    if (m_socket.is_open())
    {
        iam_logger().LogDebug() << "Session::~Session: session id: " << m_session_id;
        std::error_code ignored;
        m_socket.close(ignored);
    }
}

void Session::start(Session_place place)
{
    m_place = std::move(place);
    start_read();
}

void Session::start_read()
{
    m_socket.async_read_some(asio::buffer(m_buffer),
                             [self = shared_from_this()](const std::error_code& error, std::size_t bytes)
                             { self->handle_read(error, bytes); });
}

void Session::handle_read(const std::error_code& error, std::size_t bytes_transferred)
{
    if (error)
    {
        const auto verdict = m_log_limits->receive_failed.check(m_place.uid());
        if (verdict.pass)
        {
            iam_logger().LogError() << "Session::handle_read: session id: " << m_session_id
                                    << ", error: " << error.message() << verdict;
        }
        return;
    }

    const std::string& response = encoded_response(decide(bytes_transferred));
    // The response texts live for the whole process; the zero byte after the text ends it.
    asio::async_write(m_socket,
                      asio::buffer(response.c_str(), response.size() + 1),
                      [self = shared_from_this()](const std::error_code& write_error, std::size_t /*bytes*/)
                      { self->handle_write(write_error); });
}

Decision Session::decide(std::size_t bytes_transferred)
{
    if (bytes_transferred == m_buffer.size())
    {
        const auto verdict = m_log_limits->data_override.check(m_place.uid());
        if (verdict.pass)
        {
            iam_logger().LogError() << "Session::handle_read: session id: " << m_session_id << ", data override"
                                    << verdict;
        }
        return Decision::denied;
    }
    // The request ends at its first zero byte, and never beyond what this receive brought:
    // bytes further on are left over from earlier requests.
    std::string_view text(m_buffer.data(), bytes_transferred);
    text = text.substr(0, text.find('\0'));
    std::unique_ptr<Check_request> request;
    try
    {
        request = decode_request(text);
    }
    catch (const std::exception& exception)
    {
        log_exception(m_log_limits->undecodable, exception.what());
        return Decision::error;
    }
    catch (...)
    {
        log_exception(m_log_limits->undecodable, "unknown exception");
        return Decision::error;
    }
    try
    {
        return m_request_handler.handle(*request).decision;
    }
    catch (const std::exception& exception)
    {
        log_exception(m_log_limits->refused, exception.what());
    }
    catch (...)
    {
        log_exception(m_log_limits->refused, "unknown exception");
    }
    return Decision::error;
}

void Session::log_exception(tarn1::log_limit::Log_rate_limiter& limiter, const char* text)
{
    const auto verdict = limiter.check(m_place.uid());
    if (verdict.pass)
    {
        iam_logger().LogError() << "Session::handle_read: session id: " << m_session_id << ", exception: " << text
                                << verdict;
    }
}

void Session::handle_write(const std::error_code& error)
{
    if (error)
    {
        const auto verdict = m_log_limits->write_failed.check(m_place.uid());
        if (verdict.pass)
        {
            iam_logger().LogError() << "Session::handle_write: session id: " << m_session_id
                                    << ", error: " << error.message() << verdict;
        }
        return;
    }
    ++m_request_counter;
    start_read();
}

} // namespace vela::iam
