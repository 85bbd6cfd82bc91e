#pragma once

#include "io_loop.hpp"
#include "kest/com/connector/service_interface_description.h"
#include "kest/com/cpp_binding/service_handle.h"
#include "vela/com/runtime/types.h"

#include <cstdint>
#include <istream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kest::com::internal
{

/// Hears of every change of the offered instances; on the I/O thread.
class Discovery_listener
{
  public:
    virtual ~Discovery_listener() = default;
    virtual void on_entries_changed(const std::vector<cpp_binding::Service_handle>& offered) = 0;
};

/// The discovery directory: one entry file per offered instance, watched with inotify; entries of
/// providers that have died are recognised through process descriptors and removed.
class Discovery : public Io_handler, public std::enable_shared_from_this<Discovery>
{
  public:
    Discovery(Io_loop& loop, std::string directory);
    ~Discovery() override;

    /// Creates the directory if needed, watches it and reads it. Throws Infrastructure_exception.
    void start();
    void stop();
    const std::string& directory() const noexcept { return m_directory; }

    std::vector<cpp_binding::Service_handle> snapshot() const;
    void add_listener(std::weak_ptr<Discovery_listener> listener);
    /// Writes the entry file for an instance; returns its path.
    std::string publish(const cpp_binding::Service_handle& handle, const connector::Service_interface_description& d);
    void withdraw(const std::string& entry_file);
    /// Rereads the directory and tells the listeners when something changed; I/O thread (and start()).
    void rescan();

    void on_io(std::uint32_t events) override;

  private:
    class Process_watch;

    int m_inotify{-1};
    Io_loop& m_loop;
    std::string m_directory;
    // Guards m_entries and m_listeners: met by the I/O thread (rescans) and threads taking snapshots or
    // adding listeners.
    mutable std::mutex m_mutex;
    std::vector<cpp_binding::Service_handle> m_entries;
    std::vector<std::weak_ptr<Discovery_listener>> m_listeners;
    // Held for a whole rescan and guards m_pidfds: met by the I/O thread and the thread starting discovery.
    std::mutex m_scan_mutex;
    std::map<std::int32_t, int> m_pidfds;
};

/// The handle that the text of one discovery entry describes ("key=value" lines, at most 4 KiB),
/// or nothing when the text names no service, instance, endpoint and live-looking pid.
std::optional<cpp_binding::Service_handle> parse_discovery_entry(std::istream& text);

/// Matching instances of a list: same service, and the instance unless it is "*".
std::vector<cpp_binding::Service_handle> filter_handles(const std::vector<cpp_binding::Service_handle>& all,
                                                        const vela::com::runtime::Service_id& service,
                                                        const vela::com::runtime::Instance_id& instance);

} // namespace kest::com::internal
