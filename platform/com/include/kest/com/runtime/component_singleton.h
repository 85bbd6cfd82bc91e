#pragma once

#include "kest/com/cpp_binding/service_finder.h"
#include "kest/com/static_thread_pool.h"

#include <cstddef>
#include <memory>
#include <string>

namespace kest::com::internal
{
class Runtime;
}

namespace kest::com::runtime
{

/// Hands out worker thread pools: the process's shared pool or private ones.
class Thread_pool_factory
{
  public:
    explicit Thread_pool_factory(std::shared_ptr<internal::Runtime> runtime);
    /// The pool on which the middleware runs its callbacks.
    static_thread_pool& get_default_pool();
    /// A private pool of the given size.
    std::shared_ptr<static_thread_pool> create_thread_pool(std::size_t threads);

  private:
    std::shared_ptr<internal::Runtime> m_runtime;
};

/// The per-process middleware runtime: its I/O thread, worker pool and discovery watcher live while
/// this object (or any proxy, skeleton or finder) does. Create one early, keep it until every proxy
/// and skeleton is gone.
class Component_singleton
{
  public:
    /// The flag is accepted for compatibility and has no effect here; the name tags the log lines.
    Component_singleton(bool flag, std::string name);
    ~Component_singleton();

    Component_singleton(const Component_singleton&) = delete;
    Component_singleton& operator=(const Component_singleton&) = delete;

    cpp_binding::Service_finder& get_service_finder();
    Thread_pool_factory& get_thread_pool_factory();

  private:
    std::shared_ptr<internal::Runtime> m_runtime;
    std::string m_name;
    cpp_binding::Service_finder m_finder;
    Thread_pool_factory m_pools;
};

} // namespace kest::com::runtime
