#pragma once

#include "kest/com/cpp_binding/method_dispatcher.h"
#include "kest/com/cpp_binding/reply_token.h"
#include "vela/com/runtime/types.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace kest::com::cpp_binding
{

/// Runs for one incoming call on the skeleton's strand; answers later through reply_method.
using Method_handler =
    std::function<void(const vela::com::runtime::Serialized_payload& request, const Reply_token& reply)>;

/// One method of a skeleton: registers its handler with the dispatcher under its method id.
class Method_impl_base
{
  public:
    Method_impl_base(std::uint16_t method_id, Method_handler handler, Method_dispatcher& dispatcher);
    /// Unregisters; returns once its handler no longer runs (unless called from it).
    virtual ~Method_impl_base();

    Method_impl_base(const Method_impl_base&) = delete;
    Method_impl_base& operator=(const Method_impl_base&) = delete;

    /// Sends the answer to a call: payload with return code 0 (a response) or another code (an error
    /// message with that code). Any thread; does nothing when the caller has gone or asked no answer.
    static void reply_method(const Reply_token& reply,
                             const vela::com::runtime::Serialized_payload& payload,
                             std::uint8_t return_code);

    std::uint16_t method_id() const noexcept { return m_method_id; }
    void invoke(const vela::com::runtime::Serialized_payload& request, const Reply_token& reply) const
    {
        m_handler(request, reply);
    }

  private:
    std::uint16_t m_method_id;
    Method_handler m_handler;
    std::shared_ptr<internal::Dispatcher_core> m_dispatcher;
};

} // namespace kest::com::cpp_binding
