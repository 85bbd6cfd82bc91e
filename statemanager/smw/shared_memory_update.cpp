#include "statemanager/smw/shared_memory_update.hpp"

#include "ara/log/logging.h"

namespace vela::ap::statemanager::smw
{

Shared_memory_update::Shared_memory_update(const std::string& path)
    : Shared_memory_writer_interface(path)
{
}

void Shared_memory_update::write_state(const char* word, const char* failure_text)
{
    if (!write_to_memory(word))
    {
        ara::log::LogVerbose() << failure_text;
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
