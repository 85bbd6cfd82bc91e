#pragma once

#include "statemanager/smw/shared_memory_writer_interface.hpp"

#include <fstream>
#include <string>

namespace vela::ap::statemanager::testing
{

/// A real command file for tests: each word is written and flushed, run together like the
/// hypervisor's control file receives them.
class File_command_writer final : public smw::Shared_memory_writer_interface
{
public:
    explicit File_command_writer(const std::string& path) : m_file(path, std::ios::out | std::ios::binary) {}

    bool write_to_memory(std::string data) override
    {
        m_file << data;
        m_file.flush();
        return m_file.good();
    }

private:
    std::ofstream m_file;
};

} // namespace vela::ap::statemanager::testing
