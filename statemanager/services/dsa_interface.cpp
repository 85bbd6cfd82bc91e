#include "statemanager/services/dsa_interface.hpp"

#include "ara/log/logging.h"
#include "statemanager/smw/shared_memory_reboot.hpp"

namespace vela::ap::statemanager::services
{

// The documented constructor takes the path by value.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
Dsa_interface::Dsa_interface(std::string restart_command_path)
    : Dsa_interface(std::make_unique<smw::Shared_memory_reboot>(restart_command_path))
{
}

Dsa_interface::Dsa_interface(std::unique_ptr<smw::Shared_memory_reboot_interface>&& writer)
    : DSAInterfaceSkeleton(DSAInterface::instance(), kest::com::cpp_binding::Method_call_processing_mode::kEvent)
    , m_writer(std::move(writer))
{
}

Dsa_interface::~Dsa_interface()
{
    StopOfferService();
}

vela::com::Future<void> Dsa_interface::RequestRestart(std::uint8_t restart_type)
{
    switch (restart_type)
    {
    case 1:
    {
        std::lock_guard<std::mutex> lock(m_restart_mutex);
        ara::log::LogInfo() << "RequestDiagnosticRestart for own VM";
        if (m_writer != nullptr)
        {
            m_writer->restart_vm();
        }
        break;
    }
    case 2:
        ara::log::LogInfo() << "Received unused RequestDiagnosticRestart = 2 (no action) ";
        break;
    case 3:
        ara::log::LogInfo() << "Received unused RequestDiagnosticRestart = 3 (no action)";
        break;
    case 4:
        ara::log::LogInfo() << "Received unused RequestDiagnosticRestart = 4 (no action)";
        break;
    case 5:
    {
        std::lock_guard<std::mutex> lock(m_restart_mutex);
        ara::log::LogInfo() << "RequestDiagnosticRestart for M3";
        if (m_writer != nullptr)
        {
            m_writer->restart_m3();
        }
        break;
    }
    default:
        ara::log::LogWarn() << "DSA received unknown RestartType !";
        break;
    }
    return promise_get_future();
}

vela::com::Future<void> Dsa_interface::promise_get_future()
{
    return vela::com::make_ready_future();
}

} // namespace vela::ap::statemanager::services
