#pragma once

#include "statemanager/skeleton/dsa_interface_skeleton.hpp"
#include "statemanager/smw/shared_memory_writer_interface.hpp"

#include <memory>
#include <mutex>
#include <string>

namespace vela::ap::statemanager::services
{

/// The diagnostic restart service (DSAInterface, instance "DSA_Interface"): restart type 1
/// restarts this virtual machine, 5 the M3 processor, by writing the restart word to the
/// hypervisor's restart command file; 2 to 4 are known and ignored, anything else is refused with
/// a warning. Every call is answered.
class Dsa_interface final : public skeleton::DSAInterfaceSkeleton
{
public:
    /// The restart word of the own virtual machine.
    static constexpr const char* s_restart_vm_command = "restartao";
    /// The restart word of the M3 processor.
    static constexpr const char* s_restart_m3_command = "restartm3";
    /// Written between a failed restart word and its one retry.
    static constexpr const char* s_cancel_command = "cancel";

    /// writer owns the restart command file.
    explicit Dsa_interface(std::unique_ptr<smw::Shared_memory_writer_interface>&& writer);
    ~Dsa_interface() override;

    Dsa_interface(const Dsa_interface&) = delete;
    Dsa_interface& operator=(const Dsa_interface&) = delete;

    /// Carries out the restart of restart_type. Middleware worker thread.
    vela::com::Future<void> RequestRestart(std::uint8_t restart_type) override;
    /// A satisfied future: the reply to RequestRestart.
    vela::com::Future<void> promise_get_future();

private:
    /// Writes command; when that fails, writes "cancel" and the command once more, whatever
    /// those two writes report. Called with m_restart_mutex held.
    void try_reboot(const std::string& command);

    // Serializes restarts: two restart sequences (middleware workers) never interleave their words.
    std::mutex m_restart_mutex;
    std::unique_ptr<smw::Shared_memory_writer_interface> m_writer;
};

} // namespace vela::ap::statemanager::services
