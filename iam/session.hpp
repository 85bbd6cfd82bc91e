#pragma once

#include "iam/iam_clients.hpp"
#include "iam/peer_limits.hpp"
#include "iam/request_handler.hpp"

#include <array>
#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <cstdint>
#include <memory>
#include <system_error>

namespace vela::iam
{

/// One client connection. Every pending asynchronous operation holds a share of the session, so
/// it lives exactly as long as one of them is pending. Requests are answered strictly one after
/// the other: receive, decide, write, receive again. Runs on the event-loop thread only.
class Session final : public std::enable_shared_from_this<Session>
{
  public:
    using Socket = asio::local::stream_protocol::socket;

    /// Receive buffer; a receive that fills it is not examined.
    static constexpr std::size_t s_buffer_size = 1024;

    Session(asio::io_context& io_service,
            std::uint32_t session_id,
            std::uint64_t& request_counter,
            Iam_clients_factory_interface& clients_factory,
            std::shared_ptr<Session_log_limits> log_limits);
    ~Session();

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    /// The socket the acceptor fills.
    Socket& socket() noexcept { return m_socket; }

    /// Begins serving the accepted connection, which holds place until the session ends.
    void start(Session_place place);

  private:
    void start_read();
    void handle_read(const std::error_code& error, std::size_t bytes_transferred);
    void handle_write(const std::error_code& error);
    Decision decide(std::size_t bytes_transferred);
    void log_exception(tarn1::log_limit::Log_rate_limiter& limiter, const char* text);

    Socket m_socket;
    std::array<char, s_buffer_size> m_buffer{};
    Request_handler m_request_handler;
    std::uint32_t m_session_id;
    std::uint64_t& m_request_counter;
    std::shared_ptr<Session_log_limits> m_log_limits;
    Session_place m_place;
};

} // namespace vela::iam
