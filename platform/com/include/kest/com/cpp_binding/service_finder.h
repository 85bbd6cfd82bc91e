#pragma once

#include "kest/com/cpp_binding/service_handle.h"
#include "vela/com/runtime/types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kest::com::internal
{
class Runtime;
}

namespace kest::com::cpp_binding
{

/// Called with every offered instance matching a search: first the current list (possibly empty),
/// then the whole list again after each change (offer, withdrawal, death of a provider).
using Find_service_handler = std::function<void(std::vector<Service_handle>)>;

/// Names one running search.
struct Find_service_handle
{
    std::uint64_t id{0};
};

/// Searches for offered service instances through the discovery directory.
class Service_finder
{
  public:
    Service_finder();
    ~Service_finder();

    Service_finder(const Service_finder&) = delete;
    Service_finder& operator=(const Service_finder&) = delete;

    /// Starts an asynchronous search for service and instance ("*": any instance). The handler runs
    /// on a worker thread, never concurrently with itself; any thread may start a search.
    Find_service_handle start_find_service(Find_service_handler handler,
                                           const vela::com::runtime::Service_id& service,
                                           const vela::com::runtime::Instance_id& instance);
    /// Ends a search; once it returns the handler is not running and will not run again (also when
    /// called from inside that handler). Unknown or stopped handles are ignored.
    void stop_find_service(const Find_service_handle& handle);
    /// The instances offered right now.
    std::vector<Service_handle> find_service(const vela::com::runtime::Service_id& service,
                                             const vela::com::runtime::Instance_id& instance);
    /// Every instance of every service offered right now.
    std::vector<Service_handle> find_all();

  private:
    std::shared_ptr<internal::Runtime> m_runtime;
};

} // namespace kest::com::cpp_binding
