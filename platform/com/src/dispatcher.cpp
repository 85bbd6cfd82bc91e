#include "ara/log/logging.h"
#include "connection.hpp"
#include "dispatcher_core.hpp"
#include "kest/com/cpp_binding/method_dispatcher.h"
#include "kest/com/cpp_binding/method_impl_base.h"
#include "kest/com/exceptions.h"
#include "log_limits.hpp"
#include "pport_core.hpp"
#include "runtime.hpp"

namespace kest::com::internal
{

Dispatcher_core::Dispatcher_core(std::shared_ptr<Runtime> runtime)
    : m_runtime(std::move(runtime))
    , m_strand(m_runtime->pool())
{
}

Dispatcher_core::~Dispatcher_core() = default;

void Dispatcher_core::start()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_started = true;
}

void Dispatcher_core::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_started = false;
    }
    wait_until_idle();
}

void Dispatcher_core::wait_until_idle()
{
    if (!m_strand.running_in_this_thread())
    {
        std::lock_guard<std::mutex> running(m_run_mutex);
    }
}

void Dispatcher_core::add_method(std::uint16_t id, const cpp_binding::Method_impl_base* method)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_methods[id] = method;
}

void Dispatcher_core::remove_method(std::uint16_t id)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_methods.erase(id);
    }
    wait_until_idle();
}

namespace
{

/// Tells the connection a request came from that the request no longer waits: its handler has
/// it now (and the caller its reply soon), or it is dropped.
void release(const cpp_binding::Reply_token& reply)
{
    if (auto connection = reply.connection.lock())
    {
        connection->release_request(reply.request.payload_size());
    }
}

void log_method_failure(const cpp_binding::Reply_token& reply, const char* what)
{
    const auto connection = reply.connection.lock();
    const std::uint64_t uid = connection ? connection->peer().uid : 0;
    if (const auto verdict = log_limit(Limited_log::kMethodFailed).check((uid << 16) | reply.request.method_id);
        verdict.pass)
    {
        ara::log::LogError() << "com: method " << reply.request.method_id << " failed: " << what << verdict;
    }
}

} // namespace

void Dispatcher_core::dispatch(const cpp_binding::Reply_token& reply,
                               const vela::com::runtime::Serialized_payload& request)
{
    if (!m_strand.post([self = shared_from_this(), reply, request] { self->run(reply, request); }))
    {
        // The skeleton is going: the request is dropped unhandled.
        release(reply);
    }
}

void Dispatcher_core::run(const cpp_binding::Reply_token& reply, const vela::com::runtime::Serialized_payload& request)
{
    // Released before the reply can go, so that the caller's next request finds room, and the
    // connection's input need not be woken for it.
    release(reply);
    std::lock_guard<std::mutex> running(m_run_mutex);
    const cpp_binding::Method_impl_base* method = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_started)
        {
            cpp_binding::Method_impl_base::reply_method(reply, {}, someip::return_code::kNotReady);
            return;
        }
        const auto found = m_methods.find(reply.request.method_id);
        if (found != m_methods.end())
        {
            method = found->second;
        }
    }
    if (method == nullptr)
    {
        cpp_binding::Method_impl_base::reply_method(reply, {}, someip::return_code::kUnknownMethod);
        return;
    }
    try
    {
        method->invoke(request, reply);
    }
    catch (const std::exception& error)
    {
        log_method_failure(reply, error.what());
        cpp_binding::Method_impl_base::reply_method(reply, {}, someip::return_code::kNotOk);
    }
    catch (...)
    {
        log_method_failure(reply, "exception of unknown type");
        cpp_binding::Method_impl_base::reply_method(reply, {}, someip::return_code::kNotOk);
    }
}

} // namespace kest::com::internal

namespace kest::com::cpp_binding
{

Method_dispatcher::Method_dispatcher(Pport& port, Method_call_processing_mode processor)
{
    if (processor == Method_call_processing_mode::kPoll)
    {
        throw Invalid_argument_exception("method call processing mode kPoll is not offered by this middleware");
    }
    m_core = std::make_shared<internal::Dispatcher_core>(internal::Runtime::acquire());
    port.core()->set_dispatcher(m_core);
}

Method_dispatcher::~Method_dispatcher()
{
    m_core->stop();
}

void Method_dispatcher::start()
{
    m_core->start();
}

void Method_dispatcher::stop()
{
    m_core->stop();
}

Method_impl_base::Method_impl_base(std::uint16_t method_id, Method_handler handler, Method_dispatcher& dispatcher)
    : m_method_id(method_id)
    , m_handler(std::move(handler))
    , m_dispatcher(dispatcher.core())
{
    m_dispatcher->add_method(m_method_id, this);
}

Method_impl_base::~Method_impl_base()
{
    m_dispatcher->remove_method(m_method_id);
}

void Method_impl_base::reply_method(const Reply_token& reply,
                                    const vela::com::runtime::Serialized_payload& payload,
                                    std::uint8_t return_code)
{
    if (reply.request.message_type != someip::Message_type::kRequest)
    {
        return;
    }
    auto connection = reply.connection.lock();
    if (!connection)
    {
        return;
    }
    someip::Message_header header = reply.request;
    header.message_type =
        return_code == someip::return_code::kOk ? someip::Message_type::kResponse : someip::Message_type::kError;
    header.return_code = return_code;
    header.length = someip::kLength_offset + static_cast<std::uint32_t>(payload.size());
    connection->send(header, payload.data(), payload.size());
}

} // namespace kest::com::cpp_binding
