#pragma once

#include "discovery.hpp"
#include "io_loop.hpp"
#include "kest/com/static_thread_pool.h"
#include "settings.hpp"

#include <atomic>
#include <cstdint>
#include <memory>

namespace kest::com::internal
{

class Access_control;

/// The process-wide runtime: settings, worker pool, I/O thread, discovery.
class Runtime
{
  public:
    /// The running runtime, created on first use; lives while someone holds it.
    static std::shared_ptr<Runtime> acquire();
    /// The next acquire() makes a new runtime instead of handing out this one.
    static void retire(const Runtime* runtime);
    ~Runtime();

    const Settings& settings() const noexcept { return m_settings; }
    Io_loop& loop() noexcept { return m_loop; }
    static_thread_pool& pool() noexcept { return m_pool; }
    Discovery& discovery() noexcept { return *m_discovery; }
    std::uint64_t next_id() noexcept { return ++m_ids; }
    /// The process's access control; null when it is off (TARN1_COM_IAM_SOCKET unset).
    const std::shared_ptr<Access_control>& access() const noexcept { return m_access; }
    /// True on the I/O thread or a worker of the default pool.
    bool is_runtime_thread() const { return m_loop.in_loop_thread() || m_pool.running_in_this_thread(); }

  private:
    Runtime();

    Settings m_settings;
    // The loop is made before and ends after the pool whose workers run it.
    Io_loop m_loop;
    static_thread_pool m_pool;
    std::shared_ptr<Discovery> m_discovery;
    std::shared_ptr<Access_control> m_access;
    std::atomic<std::uint64_t> m_ids{0};
};

} // namespace kest::com::internal
