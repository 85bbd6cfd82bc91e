#pragma once

#include <string>

namespace vela::ap::statemanager::smw
{

/// A writer of one control file of the hypervisor's VM driver. Implementations own the file,
/// open it once and close it on destruction.
class Shared_memory_writer_interface
{
public:
    virtual ~Shared_memory_writer_interface() = default;

    /// Writes the bytes of data to the file as one write and flushes it. True when written (or
    /// when data is empty and nothing had to be written), false after an I/O error, which has
    /// been logged. Called on the main thread (status words) or under the restart service's
    /// mutex on a middleware thread (restart commands).
    virtual bool write_to_memory(std::string data) = 0;

protected:
    Shared_memory_writer_interface() = default;
    Shared_memory_writer_interface(const Shared_memory_writer_interface&) = default;
    Shared_memory_writer_interface& operator=(const Shared_memory_writer_interface&) = default;
};

} // namespace vela::ap::statemanager::smw
