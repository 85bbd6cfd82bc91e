#pragma once

#include "kest/com/cpp_binding/rport.h"
#include "kest/com/exceptions.h"
#include "kest/com/someip/serializer.h"
#include "vela/com/future.h"

#include <cstdint>
#include <type_traits>

namespace kest::com::cpp_binding
{

/// A method as a proxy sees it: serializes the arguments, sends the call and decodes the result.
template <typename Result, typename... Args> class Proxy_method
{
  public:
    Proxy_method(Rport& port, std::uint16_t method_id)
        : m_port(port)
        , m_method_id(method_id)
    {
    }

    vela::com::Future<Result> operator()(const Args&... args)
    {
        auto reply = m_port.call_method(m_method_id, someip::serialize_arguments(args...));
        return reply.then(
            [](vela::com::Future<vela::com::runtime::Serialized_payload> done) -> Result
            {
                auto payload = done.get();
                if constexpr (!std::is_void_v<Result>)
                {
                    Result result{};
                    if (!someip::deserialize_arguments(payload, result))
                    {
                        throw Transport_exception("reply payload cannot be decoded");
                    }
                    return result;
                }
            });
    }

  private:
    Rport& m_port;
    std::uint16_t m_method_id;
};

} // namespace kest::com::cpp_binding
