#include "ara/log/logging.h"
#include "iam/alive_supervisor.hpp"
#include "iam/application_state.hpp"
#include "iam/iam_logger.hpp"
#include "iam/peer_limits.hpp"
#include "iam/server.hpp"
#include "iam/session.hpp"
#include "iam/signal_handler.hpp"
#include "kest/psp/startup/report_ready.h"

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <cstdint>
#include <exception>
#include <memory>
#include <unistd.h>

namespace
{

constexpr const char* version = "1.2.19";

/// The daemon's one event loop.
asio::io_context io_service;

using Iam_server = vela::iam::Server<asio::io_context, asio::local::stream_protocol::acceptor, vela::iam::Session>;

void remove_socket_file(const char* path)
{
    ::unlink(path);
    if (::access(path, F_OK) == 0)
    {
        ::unlink(path);
    }
}

} // namespace

int main()
{
    using namespace vela::iam;

    ara::log::InitLogging("IAMD", "tarn1_iam_daemon", ara::log::LogLevel::kInfo, ara::log::LogMode::kRemote, "");
    auto& logger = iam_logger();

    try
    {
        logger.LogInfo() << "main: tarn1_iam_daemon started. Version: " << version;
        logger.LogDebug() << "main: socket path: " << socket_path;

        Signal_pipe signal_pipe(io_service);
        Signal_handler signal_handler(&Signal_pipe::notify);
        signal_handler.register_signal_handler();

        std::uint64_t request_counter = 0;
        remove_socket_file(socket_path);

        const std::uint64_t descriptor_limit = read_descriptor_limit();
        const Peer_limits limits = peer_limits_for(descriptor_limit);
        logger.LogDebug() << "main: descriptor limit: " << descriptor_limit
                          << ", sessions: " << static_cast<std::uint64_t>(limits.sessions)
                          << ", per uid: " << static_cast<std::uint64_t>(limits.sessions_per_uid);
        auto server = std::make_unique<Iam_server>(
            io_service, socket_path, request_counter, Platform_clients_factory::instance(), accept_retry_delay, limits);

        kest::psp::startup::report_ready();

        auto application_state = std::make_unique<Application_state>(std::make_unique<Platform_application_client>());

        auto alive_check = std::make_unique<Alive_check>(io_service, request_counter);
        alive_check->start();

        io_service.run();

        logger.LogDebug() << "main: tarn1_iam_daemon finished";
        alive_check.reset();
        application_state.reset();
        server.reset();
        return 0;
    }
    catch (const std::exception& exception)
    {
        remove_socket_file(socket_path);
        logger.LogError() << "main: " << exception.what();
    }
    catch (...)
    {
        remove_socket_file(socket_path);
        logger.LogError() << "main: unknown exception";
    }
    logger.LogDebug() << "main: tarn1_iam_daemon finished";
    return 1;
}
