#include "statemanager/services/dsa_interface.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::services
{

Dsa_interface::Dsa_interface(std::unique_ptr<smw::Shared_memory_writer_interface>&& writer)
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
        try_reboot(s_restart_vm_command);
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
        try_reboot(s_restart_m3_command);
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

void Dsa_interface::try_reboot(const std::string& command)
{
    if (m_writer == nullptr || m_writer->write_to_memory(command))
    {
        return;
    }
    static_cast<void>(m_writer->write_to_memory(s_cancel_command));
    static_cast<void>(m_writer->write_to_memory(command));
}

} // namespace vela::ap::statemanager::services
