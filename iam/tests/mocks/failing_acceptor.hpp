#pragma once

#include <asio/error.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/post.hpp>
#include <atomic>
#include <system_error>

namespace vela::iam::testing
{

/// A real unix stream acceptor whose accepts can be made to fail, as they do when descriptors run
/// out: while s_fail_calls is set every accept fails at once; s_fail_completions makes that many
/// accepted connections fail (they are closed and reported as failed accepts).
class Failing_acceptor : public asio::local::stream_protocol::acceptor
{
  public:
    using Base = asio::local::stream_protocol::acceptor;
    using Base::Base;

    static inline std::atomic<bool> s_fail_calls{false};
    static inline std::atomic<int> s_fail_completions{0};
    static inline std::atomic<int> s_calls{0};

    static void reset()
    {
        s_fail_calls = false;
        s_fail_completions = 0;
        s_calls = 0;
    }

    template <typename Socket, typename Handler> void async_accept(Socket& socket, Handler handler)
    {
        ++s_calls;
        if (s_fail_calls)
        {
            asio::post(get_executor(), [handler]() mutable { handler(asio::error::no_descriptors); });
            return;
        }
        Base::async_accept(socket,
                           [&socket, handler](const std::error_code& error) mutable
                           {
                               if (!error && s_fail_completions.load() > 0)
                               {
                                   --s_fail_completions;
                                   std::error_code ignored;
                                   socket.close(ignored);
                                   handler(asio::error::no_descriptors);
                                   return;
                               }
                               handler(error);
                           });
    }
};

} // namespace vela::iam::testing
