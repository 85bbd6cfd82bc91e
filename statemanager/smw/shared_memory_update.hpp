#pragma once

#include "statemanager/smw/shared_memory_update_interface.hpp"
#include "statemanager/smw/shared_memory_writer_interface.hpp"
#include "tarn1/service_manager/service_manager_interface.hpp"

#include <memory>
#include <string>

namespace vela::ap::statemanager::smw
{

/// Writes the word of the daemon's current state to the VM status file, on every state entry.
/// A failed write is logged at verbose level ("Failed to set <word> state in shared memory!");
/// the caller learns nothing of it. The same word becomes the status line of the service manager
/// that started the daemon (STATUS=<word>), when one did. Main thread only.
class Shared_memory_update final : public Shared_memory_writer_interface, public Shared_memory_update_interface
{
  public:
    /// The hypervisor driver's status file.
    static constexpr const char* s_default_path = "/sys/vmctl/set_status";

    /// Opens path; status words also go to service_manager, when given and present.
    explicit Shared_memory_update(
        const std::string& path = s_default_path,
        std::shared_ptr<tarn1::service_manager::Service_manager_interface> service_manager = nullptr);

    void starting_up() override;
    void running() override;
    void shutting_down() override;
    void run_nm_controlled() override;
    void post_run() override;
    void preparing() override;
    void prepared_4_sd() override;
    void resuming() override;

  private:
    void write_state(const char* word, const char* failure_text);

    std::shared_ptr<tarn1::service_manager::Service_manager_interface> m_service_manager;
};

} // namespace vela::ap::statemanager::smw
