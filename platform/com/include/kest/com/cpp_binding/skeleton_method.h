#pragma once

#include "kest/com/cpp_binding/field_handler.h"
#include "kest/com/cpp_binding/method_impl_base.h"
#include "kest/com/exceptions.h"
#include "kest/com/someip/message_header.h"
#include "kest/com/someip/serializer.h"
#include "vela/com/future.h"

#include <cstdint>
#include <functional>
#include <tuple>
#include <type_traits>

namespace kest::com::cpp_binding
{

/// A skeleton method with typed arguments: decodes the request, calls the operation and replies once
/// the operation's future is satisfied. An undecodable request is answered at once with return code
/// 0x80 and the operation is not called; a failed future is answered with the error's return code
/// (Application_error_exception) or 0x01.
template <typename Result, typename... Args> class Skeleton_method : public Method_impl_base
{
  public:
    using Operation = std::function<vela::com::Future<Result>(const Args&...)>;

    Skeleton_method(std::uint16_t method_id, Method_dispatcher& dispatcher, Operation operation)
        : Method_impl_base(
              method_id,
              [operation = std::move(operation)](const vela::com::runtime::Serialized_payload& request,
                                                 const Reply_token& reply) { handle(operation, request, reply); },
              dispatcher)
    {
    }

  private:
    static void
    handle(const Operation& operation, const vela::com::runtime::Serialized_payload& request, const Reply_token& reply)
    {
        std::tuple<std::decay_t<Args>...> arguments;
        const bool decoded = std::apply(
            [&request](auto&... values) { return someip::deserialize_arguments(request, values...); }, arguments);
        if (!decoded)
        {
            reply_method(reply, vela::com::runtime::Serialized_payload(), someip::return_code::kDecodingFailed);
            return;
        }
        vela::com::Future<Result> result = std::apply(operation, arguments);
        result.then(
            [reply](vela::com::Future<Result> done)
            {
                try
                {
                    if constexpr (std::is_void_v<Result>)
                    {
                        done.get();
                        reply_method(reply, vela::com::runtime::Serialized_payload(), someip::return_code::kOk);
                    }
                    else
                    {
                        reply_method(reply, someip::serialize_arguments(done.get()), someip::return_code::kOk);
                    }
                }
                catch (const Application_error_exception& error)
                {
                    reply_method(reply, vela::com::runtime::Serialized_payload(), error.return_code());
                }
                catch (...)
                {
                    reply_method(reply, vela::com::runtime::Serialized_payload(), someip::return_code::kNotOk);
                }
            });
    }
};

/// A field as a skeleton sees it: Update stores the value, notifies subscribers, answers the getter.
template <typename Value> class Skeleton_field
{
  public:
    Skeleton_field(Field_handler& fields, std::uint16_t event_id, std::optional<std::uint16_t> getter_method_id)
        : m_fields(fields)
        , m_event_id(event_id)
    {
        m_fields.add_field(event_id, getter_method_id);
    }
    void Update(const Value& value) { m_fields.update(m_event_id, someip::serialize_arguments(value)); }

  private:
    Field_handler& m_fields;
    std::uint16_t m_event_id;
};

/// An event as a skeleton sees it: Send notifies the current subscribers.
template <typename Sample> class Skeleton_event
{
  public:
    Skeleton_event(Pport& port, std::uint16_t event_id)
        : m_port(port)
        , m_event_id(event_id)
    {
    }
    void Send(const Sample& sample) { m_port.notify(m_event_id, someip::serialize_arguments(sample)); }

  private:
    Pport& m_port;
    std::uint16_t m_event_id;
};

} // namespace kest::com::cpp_binding
