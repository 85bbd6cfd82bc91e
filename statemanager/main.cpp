// Entry of the Statewarden daemon: brings up the runtime and logging, reads the configuration,
// builds the collaborators of the state machine in their fixed order, runs the state manager
// and tears everything down again. No command-line arguments are read.

#include "ara/log/logging.h"
#include "ara/phm/phm_client.h"
#include "ara/phm/supervision_entity.h"
#include "kest/com/exceptions.h"
#include "kest/com/runtime/component_singleton.h"
#include "statemanager/config/config_chooser.hpp"
#include "statemanager/config/state_manager_config.hpp"
#include "statemanager/config/state_manager_json_parser.hpp"
#include "statemanager/em/em_interface.hpp"
#include "statemanager/nm/nm_interface.hpp"
#include "statemanager/phm/supervision_manager.hpp"
#include "statemanager/service_handler/service_handler.hpp"
#include "statemanager/services/state_manager_com_alive_interface.hpp"
#include "statemanager/services/state_manager_cwu_interface.hpp"
#include "statemanager/services/status_service.hpp"
#include "statemanager/state_manager.hpp"
#include "statemanager/statewarden_builder.hpp"
#include "statemanager/status/recording_nm_interface.hpp"
#include "statemanager/status/status_board.hpp"
#include "statemanager/virtio/virtio_interface.hpp"
#include "tarn1/service_manager/systemd_service_manager.hpp"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sm = vela::ap::statemanager;

extern "C" void signal_handler(int signal_number);

/// The one state manager; empty until it is built, read by the signal handler.
std::unique_ptr<sm::State_manager> g_state_manager;

namespace
{

// What the signal handler may touch: a lock-free copy of g_state_manager's pointer, set once it
// is built and cleared before it is released (a signal may arrive on any thread).
std::atomic<sm::State_manager*> s_signal_target{nullptr};
static_assert(std::atomic<sm::State_manager*>::is_always_lock_free, "read from a signal handler");

void install(int signal_number, const char* failure_text)
{
    if (std::signal(signal_number, signal_handler) == SIG_ERR)
    {
        ara::log::LogFatal() << failure_text;
    }
}

} // namespace

/// The handler of SIGABRT, SIGINT and SIGTERM: asks the state manager to end its loop. Only
/// async-signal-safe work here; the state manager logs "SIGTERM received!" once its loop ends.
extern "C" void signal_handler(int signal_number)
{
    if (signal_number != SIGABRT && signal_number != SIGTERM && signal_number != SIGINT)
    {
        return;
    }
    if (sm::State_manager* const state_manager = s_signal_target.load())
    {
        state_manager->shutdown_from_signal();
    }
}

int main()
{
    // The middleware's runtime comes first and goes last: every proxy and skeleton needs it. When
    // it cannot start (its discovery folder cannot be made or watched), that is said in the log
    // and the daemon ends instead of aborting on the exception.
    std::optional<kest::com::runtime::Component_singleton> runtime;
    std::string runtime_failure;
    try
    {
        runtime.emplace(false, "");
    }
    catch (const std::exception& error)
    {
        runtime_failure = error.what();
    }

    ara::log::InitLogging("STMG", "TARN1 State Manager", ara::log::LogLevel::kVerbose, ara::log::LogMode::kRemote, "");

    if (!runtime)
    {
        ara::log::LogFatal() << "Communication middleware cannot be started: " << runtime_failure
                             << ". Statewarden is aborted.";
        return -1;
    }

    int result = 0;
    sm::config::Config_chooser chooser;
    sm::config::State_manager_config config;
    if (!chooser.good())
    {
        ara::log::LogFatal() << "Unable to read configuration selection file. Statewarden is aborted.";
        result = -1;
    }
    else if (!sm::config::State_manager_json_parser::parse(chooser.get_config_path(), config))
    {
        ara::log::LogFatal() << "Configuration is ill formatted, Statewarden is aborted.";
        result = -1;
    }
    else
    {
        install(SIGABRT, "Could not register SIGABRT handler");
        install(SIGINT, "Could not register SIGINT handler");
        install(SIGTERM, "Could not register SIGTERM handler");

        // The read-only status: recorded where things happen, read by the status service.
        const auto status_board = std::make_shared<sm::status::Status_board>(config.is_nm_usage_allowed());

        // Read once: a silent NM side holds each call, and the main loop with it, at most this long.
        // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in this process changes the environment.
        const char* const call_timeout = std::getenv(sm::Nm_interface::s_call_timeout_variable);
        std::unique_ptr<sm::Nm_interface_abstract> nm_interface = std::make_unique<sm::status::Recording_nm_interface>(
            std::make_unique<sm::Nm_interface>(sm::Nm_interface::call_timeout_from(call_timeout)), status_board);
        std::vector<std::unique_ptr<sm::State_manager_com_alive_interface_abstract>> com_alive;
        for (const std::string& instance : config.get_apps_comalive())
        {
            com_alive.push_back(std::make_unique<sm::State_manager_com_alive_interface>(instance));
        }
        std::vector<std::unique_ptr<sm::State_manager_cwu_interface_abstract>> cwu;
        for (const std::string& instance : config.get_apps_cwu())
        {
            cwu.push_back(std::make_unique<sm::State_manager_cwu_interface>(instance));
        }
        const std::shared_ptr<sm::Service_handler_interface> service_handler = std::make_shared<sm::Service_handler>(
            config, std::move(nm_interface), std::move(com_alive), std::move(cwu), status_board);

        const std::shared_ptr<sm::Em_interface_abstract> em_interface = std::make_shared<sm::Em_interface>();
        std::unique_ptr<sm::virtio::Virtio_interface_abstract> virtio_interface =
            std::make_unique<sm::virtio::Virtio_interface>();

        ara::phm::Phm_client phm_client(config.get_alive_supervision_instance_id());
        std::unique_ptr<ara::phm::SupervisionEntityInterface> supervision_entity =
            std::make_unique<ara::phm::SupervisionEntity>(phm_client);
        std::unique_ptr<sm::phm::Supervision_manager_interface> supervision_manager =
            std::make_unique<sm::phm::Supervision_manager>(std::move(supervision_entity));

        // Offered from the start, also while Starting up waits for the NM services; a status service
        // that cannot be offered leaves the daemon as it is.
        auto status_service = std::make_unique<sm::services::Status_service>(status_board);
        try
        {
            status_service->OfferService();
        }
        catch (const kest::com::Infrastructure_exception& error)
        {
            ara::log::LogError() << "infrastructure exception " << error.what();
        }
        status_board->set_publisher(status_service.get());

        // What the states share is created when init() asks for it, after the virtual input and the
        // service handler are up; under systemd the status line follows the state words.
        sm::Shared_collaborator_settings shared;
        shared.service_manager = std::make_shared<tarn1::service_manager::Systemd_service_manager>();
        shared.machine_recorder = status_board;
        shared.round_recorder = status_board;
        g_state_manager = std::make_unique<sm::State_manager>(config,
                                                              service_handler,
                                                              em_interface,
                                                              std::move(virtio_interface),
                                                              std::move(supervision_manager),
                                                              sm::shared_collaborators_builder(std::move(shared)),
                                                              status_board);
        s_signal_target.store(g_state_manager.get());

        if (g_state_manager->init())
        {
            g_state_manager->run();
        }
        else
        {
            ara::log::LogError() << "Failed to initialize Statewarden!";
        }
        ara::log::LogInfo() << "Statewarden daemon shutting down";
        // No state change is published any more; the status service goes with the other services.
        status_board->set_publisher(nullptr);
        status_service.reset();

        // The state manager refers to the configuration, the PHM client and the runtime object:
        // it goes before any of them.
        s_signal_target.store(nullptr);
        g_state_manager.reset();
    }
    return result;
}
