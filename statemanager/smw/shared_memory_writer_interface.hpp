#pragma once

#include <fstream>
#include <string>

namespace vela::ap::statemanager::smw
{

/// Owns one control file of the hypervisor's VM driver: opens it once at construction, keeps it
/// open and closes it on destruction. Each write_to_memory() reaches the file as one write of
/// exactly the given bytes, with nothing between successive words. No locking inside: a writer
/// is used by one thread at a time (the main thread for status words, the restart service under
/// its restart mutex for restart commands).
class Shared_memory_writer_interface
{
  public:
    /// Opens path for writing (a missing regular file is created, an existing one truncated).
    /// When it cannot be opened the error is logged and every later write reports failure.
    explicit Shared_memory_writer_interface(std::string path);
    virtual ~Shared_memory_writer_interface();

    Shared_memory_writer_interface(const Shared_memory_writer_interface&) = delete;
    Shared_memory_writer_interface& operator=(const Shared_memory_writer_interface&) = delete;
    Shared_memory_writer_interface(Shared_memory_writer_interface&&) = default;
    Shared_memory_writer_interface& operator=(Shared_memory_writer_interface&&) = default;

    /// Writes the bytes of data as one write. True when written, and when data is empty (nothing
    /// to write); false, after a warning naming the data and the path, when the write failed or
    /// the file was never opened. A failure does not stop later writes from being tried.
    virtual bool write_to_memory(std::string data);

    /// Closes the file; later writes report failure.
    void close_file();

    /// The path given at construction.
    const std::string& get_path() const { return m_path; }

  private:
    void log_write_failure(const std::string& data) const;

    std::string m_path;
    std::ofstream m_stream;
};

} // namespace vela::ap::statemanager::smw
