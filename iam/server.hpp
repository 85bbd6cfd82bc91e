#pragma once

#include "iam/iam_clients.hpp"
#include "iam/iam_logger.hpp"
#include "iam/peer_limits.hpp"

#include <asio/steady_timer.hpp>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <system_error>

namespace vela::iam
{

/// Where the daemon listens.
inline constexpr const char* socket_path = "/var/run/adaptive/tarn1_iam/iam";
/// Pending connections the kernel keeps before they are accepted.
inline constexpr int listen_backlog = 128;
/// A failed accept (descriptors run out, for example) is retried after this pause, so the loop
/// keeps serving the open sessions instead of spinning on the failure.
inline constexpr std::chrono::milliseconds accept_retry_delay{100};

/// Creates the folders leading to path that are missing (mode 0755); throws std::system_error
/// naming "mkdir" when one cannot be made.
void create_socket_folder(const std::string& path);

/// The uid of the process at the other end of a connected unix socket (as it was when it
/// connected), or unknown_uid when the kernel does not say.
std::uint32_t peer_uid(int descriptor) noexcept;

/// Listens on a unix stream socket and makes one session per connection. Session ids start at 1;
/// every accept, also a failed one, uses up one id. A connection beyond the session limits (in all,
/// or of its peer's uid) is closed as soon as it is accepted, so the descriptors never run out and
/// one user cannot take every session. Runs on the event-loop thread only.
template <typename Io_service, typename Acceptor, typename Session_type> class Server final
{
  public:
    /// Opens, binds (after creating missing folders) and listens on path, then starts accepting
    /// into session 1. Throws std::system_error naming the step that failed ("open",
    /// "set_option", "bind", "listen").
    Server(Io_service& io_service,
           const std::string& path,
           std::uint64_t& request_counter,
           Iam_clients_factory_interface& clients_factory = Platform_clients_factory::instance(),
           std::chrono::milliseconds retry_delay = accept_retry_delay,
           const Peer_limits& limits = peer_limits_for(read_descriptor_limit()))
        : m_io_service(io_service)
        , m_acceptor(io_service)
        , m_retry_timer(io_service)
        , m_request_counter(request_counter)
        , m_clients_factory(clients_factory)
        , m_retry_delay(retry_delay)
        , m_admission(std::make_shared<Session_admission>(limits))
        , m_session_log_limits(std::make_shared<Session_log_limits>(limits))
    {
        using Endpoint = typename Acceptor::endpoint_type;
        // sun_path holds 108 bytes including the terminating zero.
        if (path.size() > 107)
        {
            throw std::system_error(std::make_error_code(std::errc::filename_too_long), "bind");
        }
        create_socket_folder(path);
        const Endpoint endpoint(path);
        std::error_code error;
        m_acceptor.open(endpoint.protocol(), error);
        throw_on(error, "open");
        m_acceptor.set_option(typename Acceptor::reuse_address(true), error);
        throw_on(error, "set_option");
        m_acceptor.bind(endpoint, error);
        throw_on(error, "bind");
        m_acceptor.listen(listen_backlog, error);
        throw_on(error, "listen");
        start_accept(make_session());
    }

    // The timer's cancel() throws only when the system refuses to change its registration; ending
    // the daemon then is right.
    // NOLINTNEXTLINE(bugprone-exception-escape)
    ~Server()
    {
        std::error_code ignored;
        m_retry_timer.cancel();
        m_acceptor.close(ignored);
    }

    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

  private:
    static void throw_on(const std::error_code& error, const char* step)
    {
        if (error)
        {
            throw std::system_error(error, step);
        }
    }

    std::shared_ptr<Session_type> make_session()
    {
        return std::make_shared<Session_type>(
            m_io_service, m_next_session_id, m_request_counter, m_clients_factory, m_session_log_limits);
    }

    void start_accept(std::shared_ptr<Session_type> session)
    {
        auto& socket = session->socket();
        m_acceptor.async_accept(socket,
                                [this, session = std::move(session)](const std::error_code& error)
                                { handle_accept(session, error); });
    }

    void handle_accept(const std::shared_ptr<Session_type>& session, const std::error_code& error)
    {
        if (!m_acceptor.is_open())
        {
            // the server is closing
            return;
        }
        if (!error)
        {
            admit(*session);
        }
        ++m_next_session_id;
        auto next = make_session();
        if (!error)
        {
            start_accept(std::move(next));
            return;
        }
        m_retry_timer.expires_after(m_retry_delay);
        m_retry_timer.async_wait(
            [this, next = std::move(next)](const std::error_code& timer_error) mutable
            {
                if (!timer_error && m_acceptor.is_open())
                {
                    start_accept(std::move(next));
                }
            });
    }

    void admit(Session_type& session)
    {
        const std::uint32_t uid = peer_uid(session.socket().native_handle());
        const auto verdict = m_admission->admit(uid);
        if (verdict == Session_admission::Verdict::admitted)
        {
            session.start(Session_place(m_admission, uid));
            return;
        }
        std::error_code ignored;
        session.socket().close(ignored);
        if (verdict == Session_admission::Verdict::all_sessions_taken)
        {
            const auto logged = m_all_taken_log.check(0);
            if (logged.pass)
            {
                iam_logger().LogWarn() << "Server::handle_accept: session limit "
                                       << static_cast<std::uint64_t>(m_admission->limits().sessions)
                                       << " reached, connection of uid " << uid << " closed" << logged;
            }
            return;
        }
        const auto logged = m_uid_taken_log.check(uid);
        if (logged.pass)
        {
            iam_logger().LogWarn() << "Server::handle_accept: uid " << uid << " reached its session limit "
                                   << static_cast<std::uint64_t>(m_admission->limits().sessions_per_uid)
                                   << ", connection closed" << logged;
        }
    }

    Io_service& m_io_service;
    Acceptor m_acceptor;
    asio::steady_timer m_retry_timer;
    std::uint64_t& m_request_counter;
    Iam_clients_factory_interface& m_clients_factory;
    std::chrono::milliseconds m_retry_delay;
    std::uint32_t m_next_session_id{1};
    // Shared with the sessions, which may outlive the server when the event loop is torn down.
    std::shared_ptr<Session_admission> m_admission;
    std::shared_ptr<Session_log_limits> m_session_log_limits;
    // Refusals are logged at most once per second: all of them together, and per uid.
    tarn1::log_limit::Log_rate_limiter m_all_taken_log{std::chrono::seconds(1)};
    tarn1::log_limit::Log_rate_limiter m_uid_taken_log{std::chrono::seconds(1)};
};

} // namespace vela::iam
