#include "statemanager/smw/shared_memory_writer_interface.hpp"

#include "ara/log/logging.h"

#include <ios>
#include <utility>

namespace vela::ap::statemanager::smw
{

Shared_memory_writer_interface::Shared_memory_writer_interface(std::string path)
    : m_path(std::move(path))
{
    // Unbuffered, so every word goes to the driver in its own write and a failed write leaves
    // no bytes behind that would be glued to the next word.
    m_stream.rdbuf()->pubsetbuf(nullptr, 0);
    m_stream.open(m_path, std::ios::out | std::ios::binary);
    if (!m_stream.is_open())
    {
        ara::log::LogError() << "Invalid Shared memory file provided: " << m_path << "!";
        return;
    }
    m_stream.exceptions(std::ios::failbit | std::ios::badbit);
}

Shared_memory_writer_interface::~Shared_memory_writer_interface()
{
    close_file();
}

bool Shared_memory_writer_interface::write_to_memory(std::string data)
{
    if (data.empty())
    {
        ara::log::LogDebug() << "No data provided for shared memory write!";
        return true;
    }
    if (!m_stream.is_open())
    {
        // Bytes that go nowhere are no success: the caller logs and, for restarts, retries.
        log_write_failure(data);
        return false;
    }
    try
    {
        // A write that failed before (a busy driver) must not silence every later word.
        m_stream.clear();
        m_stream.write(data.data(), static_cast<std::streamsize>(data.size()));
        m_stream.flush();
        return true;
    }
    catch (const std::ios_base::failure&)
    {
        log_write_failure(data);
        return false;
    }
}

void Shared_memory_writer_interface::close_file()
{
    if (!m_stream.is_open())
    {
        return;
    }
    try
    {
        m_stream.clear();
        m_stream.close();
    }
    catch (const std::ios_base::failure&)
    {
        // The stream is closed either way; nothing is pending in an unbuffered stream.
    }
}

void Shared_memory_writer_interface::log_write_failure(const std::string& data) const
{
    ara::log::LogWarn() << "I/O exception while writing "
                        << "\"" << data << "\""
                        << " to file: " << m_path;
}

} // namespace vela::ap::statemanager::smw
