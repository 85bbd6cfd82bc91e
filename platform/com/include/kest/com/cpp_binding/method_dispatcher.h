#pragma once

#include "kest/com/cpp_binding/method_call_processing_mode.h"
#include "kest/com/cpp_binding/pport.h"

#include <memory>

namespace kest::com::internal
{
class Dispatcher_core;
}

namespace kest::com::cpp_binding
{

/// Hands a port's incoming calls to the method objects, one at a time on the skeleton's strand.
class Method_dispatcher
{
  public:
    /// Throws Invalid_argument_exception for kPoll, which this middleware does not offer.
    Method_dispatcher(Pport& port, Method_call_processing_mode processor);
    ~Method_dispatcher();

    Method_dispatcher(const Method_dispatcher&) = delete;
    Method_dispatcher& operator=(const Method_dispatcher&) = delete;

    /// From now on calls reach the method objects.
    void start();
    /// Calls arriving from now on are answered "not ready"; returns once no handler runs (unless
    /// called from a handler).
    void stop();

    std::shared_ptr<internal::Dispatcher_core> core() const noexcept { return m_core; }

  private:
    std::shared_ptr<internal::Dispatcher_core> m_core;
};

} // namespace kest::com::cpp_binding
