#include "statemanager/smw/shared_memory_update.hpp"

#include "ara/log/logging.h"

#include <array>
#include <cstdio>
#include <utility>

namespace vela::ap::statemanager::smw
{

Shared_memory_update::Shared_memory_update(
    const std::string& path, std::shared_ptr<tarn1::service_manager::Service_manager_interface> service_manager)
    : Shared_memory_writer_interface(path)
    , m_service_manager(std::move(service_manager))
{
}

void Shared_memory_update::write_state(const char* word, const char* failure_text)
{
    if (!write_to_memory(word))
    {
        ara::log::LogVerbose() << failure_text;
    }
    // The status line shows the state also where the hypervisor's status file is missing (a
    // developer's machine), so it does not depend on the write above.
    if (m_service_manager && m_service_manager->is_present())
    {
        std::array<char, 32> status{};
        // The words are short constants; the line would be cut, never overrun.
        (void)std::snprintf(status.data(), status.size(), "STATUS=%s", word);
        if (m_service_manager->notify(status.data()) < 0)
        {
            ara::log::LogDebug() << "Failed to show " << word << " state to the service manager!";
        }
    }
}

void Shared_memory_update::starting_up()
{
    write_state("startingup", "Failed to set startingup state in shared memory!");
}

void Shared_memory_update::running()
{
    write_state("running", "Failed to set running state in shared memory!");
}

void Shared_memory_update::shutting_down()
{
    write_state("shuttingdown", "Failed to set shuttingdown state in shared memory!");
}

void Shared_memory_update::run_nm_controlled()
{
    write_state("runnmcontrolled", "Failed to set runnmcontrolled state in shared memory!");
}

void Shared_memory_update::post_run()
{
    write_state("postrun", "Failed to set postrun state in shared memory!");
}

void Shared_memory_update::preparing()
{
    write_state("preparing", "Failed to set preparing state in shared memory!");
}

void Shared_memory_update::prepared_4_sd()
{
    write_state("prepared4sd", "Failed to set prepared4sd state in shared memory!");
}

void Shared_memory_update::resuming()
{
    write_state("resuming", "Failed to set resuming state in shared memory!");
}

} // namespace vela::ap::statemanager::smw
