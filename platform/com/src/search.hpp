#pragma once

#include "discovery.hpp"
#include "kest/com/cpp_binding/service_finder.h"
#include "kest/com/cpp_binding/service_handle.h"
#include "kest/com/strand.h"
#include "vela/com/runtime/types.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace kest::com::internal
{

class Runtime;

/// One running search of a service finder.
class Search : public Discovery_listener, public std::enable_shared_from_this<Search>
{
  public:
    Search(std::shared_ptr<Runtime> runtime,
           cpp_binding::Find_service_handler handler,
           vela::com::runtime::Service_id service,
           vela::com::runtime::Instance_id instance);

    void start();
    void stop();
    /// Hands the matching instances to the handler when they changed. Lists that come while the
    /// handler has not yet run for the one before are merged: it gets the newest. I/O thread.
    void on_entries_changed(const std::vector<cpp_binding::Service_handle>& offered) override;

  private:
    /// On the strand: the newest list to the handler.
    void hand_over();

    std::shared_ptr<Runtime> m_runtime;
    cpp_binding::Find_service_handler m_handler;
    vela::com::runtime::Service_id m_service;
    vela::com::runtime::Instance_id m_instance;
    Strand m_strand;
    // Guards the members below: met by the I/O thread, the strand's worker and the stopping thread.
    std::mutex m_mutex;
    std::optional<std::vector<cpp_binding::Service_handle>> m_last;
    // The list waiting for the handler, and whether a hand-over is queued on the strand for it.
    std::optional<std::vector<cpp_binding::Service_handle>> m_next;
    bool m_hand_over_queued{false};
    bool m_stopped{false};
};

} // namespace kest::com::internal
