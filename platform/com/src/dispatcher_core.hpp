#pragma once

#include "kest/com/cpp_binding/reply_token.h"
#include "kest/com/strand.h"
#include "vela/com/runtime/types.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace kest::com::cpp_binding
{
class Method_impl_base;
}

namespace kest::com::internal
{

class Runtime;

/// Runs the incoming calls of one skeleton on its strand.
class Dispatcher_core : public std::enable_shared_from_this<Dispatcher_core>
{
  public:
    explicit Dispatcher_core(std::shared_ptr<Runtime> runtime);
    ~Dispatcher_core();

    void start();
    void stop();
    void add_method(std::uint16_t id, const cpp_binding::Method_impl_base* method);
    void remove_method(std::uint16_t id);
    /// From the I/O thread: queues the call on the strand.
    void dispatch(const cpp_binding::Reply_token& reply, const vela::com::runtime::Serialized_payload& request);

  private:
    void run(const cpp_binding::Reply_token& reply, const vela::com::runtime::Serialized_payload& request);
    void wait_until_idle();

    std::shared_ptr<Runtime> m_runtime;
    Strand m_strand;
    // Held while a handler runs: stop() and remove_method() take it to wait for the handler's end.
    std::mutex m_run_mutex;
    // Guards m_started and m_methods: met by the strand's worker and the threads offering or withdrawing.
    std::mutex m_mutex;
    bool m_started{false};
    std::map<std::uint16_t, const cpp_binding::Method_impl_base*> m_methods;
};

} // namespace kest::com::internal
