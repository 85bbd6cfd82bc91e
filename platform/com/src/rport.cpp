#include "kest/com/cpp_binding/rport.h"

#include "ara/log/logging.h"
#include "clock.hpp"
#include "connection.hpp"
#include "discovery.hpp"
#include "kest/com/exceptions.h"
#include "log_limits.hpp"
#include "make_error.hpp"
#include "process_info.hpp"
#include "rport_core.hpp"
#include "runtime.hpp"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace kest::com::internal
{

using vela::com::runtime::Serialized_payload;

Rport_core::Rport_core(std::shared_ptr<Runtime> runtime,
                       cpp_binding::Service_handle handle,
                       connector::Service_interface_description description)
    : m_runtime(std::move(runtime))
    , m_description(std::move(description))
    , m_numeric_id(m_description.numeric_service_id())
    , m_client_id(static_cast<std::uint16_t>(::getpid()))
    , m_strand(m_runtime->pool())
    , m_handle(std::move(handle))
    , m_timeout(m_runtime->settings().call_timeout)
{
}

Rport_core::~Rport_core() = default;

void Rport_core::start()
{
    cpp_binding::Service_handle handle;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handle = m_handle;
    }
    connect_to(handle);
    // Listen on the I/O thread so that reconnection never races with the first connection.
    m_runtime->loop().post(
        [weak = weak_from_this()]
        {
            if (auto self = weak.lock())
            {
                self->m_runtime->discovery().add_listener(self);
                self->on_entries_changed(self->m_runtime->discovery().snapshot());
            }
        });
}

void Rport_core::shutdown()
{
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shut_down = true;
        connection = std::move(m_connection);
        m_events.clear();
    }
    if (connection)
    {
        connection->close();
    }
    fail_all_pending("proxy destroyed before the reply came");
    m_strand.close();
}

bool Rport_core::connect_to(const cpp_binding::Service_handle& handle)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (handle.endpoint.size() >= sizeof address.sun_path)
    {
        return false;
    }
    std::memcpy(address.sun_path, handle.endpoint.c_str(), handle.endpoint.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        return false;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        ara::log::LogDebug() << "com: cannot connect to " << handle.endpoint << ": "
                             << std::generic_category().message(errno);
        ::close(fd);
        return false;
    }
    const Peer_credentials provider = Connection::credentials_of(fd);
    if (m_runtime->access() && !served_by_entry(handle, provider))
    {
        ::close(fd);
        return false;
    }
    auto connection = std::make_shared<Connection>(
        m_runtime->loop(), fd, weak_from_this(), handle.endpoint, provider, Connection::Reading::kOnce);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shut_down || m_connection)
        {
            return true;
        }
        m_connection = connection;
        ++m_connection_serial;
        m_handle = handle;
        connection->open();
        for (const auto& [event_id, event] : m_events)
        {
            if (event.subscribed)
            {
                send_subscription(*connection, event_id, someip::Message_type::kSubscribe);
            }
        }
    }
    ara::log::LogDebug() << "com: connected to " << handle.service_id.to_string() << " instance "
                         << handle.instance_id.to_string();
    return true;
}

bool Rport_core::served_by_entry(const cpp_binding::Service_handle& handle, const Peer_credentials& provider)
{
    // The kernel says who listens on the socket; only the process the entry names (the same pid,
    // started at the same time) is the provider.
    if (provider.known && provider.pid == handle.pid && process_start_time(handle.pid) == handle.start_time)
    {
        return true;
    }
    if (const auto verdict = log_limit(Limited_log::kProviderRefused).check(static_cast<std::uint32_t>(handle.pid));
        verdict.pass)
    {
        ara::log::LogWarn() << "com: " << handle.service_id.to_string() << " instance "
                            << handle.instance_id.to_string() << " counts as not available: its socket "
                            << handle.endpoint << " is served by pid " << static_cast<std::int32_t>(provider.pid)
                            << ", not by the offering process (pid " << handle.pid << ", start time "
                            << handle.start_time << ")" << verdict;
    }
    return false;
}

void Rport_core::send_subscription(Connection& connection, std::uint16_t event_id, someip::Message_type type)
{
    someip::Message_header header;
    header.service_id = m_numeric_id;
    header.method_id = event_id;
    header.client_id = m_client_id;
    header.interface_version = m_description.major_version;
    header.message_type = type;
    connection.send(header, nullptr, 0);
}

vela::com::Future<Serialized_payload> Rport_core::call(std::uint16_t method_id, const Serialized_payload& args)
{
    vela::com::Promise<Serialized_payload> promise;
    promise.set_wait_helper(weak_from_this());
    auto future = promise.get_future();
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_connection)
    {
        lock.unlock();
        promise.set_exception(make_error<Service_not_available_exception>());
        return future;
    }
    if (m_pending.size() >= 0xFFFF)
    {
        lock.unlock();
        promise.set_exception(make_error<Transport_exception>("too many calls waiting for replies"));
        return future;
    }
    do
    {
        ++m_next_session;
    } while (m_next_session == 0 || m_pending.count(m_next_session) != 0);
    const std::uint16_t session = m_next_session;
    someip::Message_header header;
    header.service_id = m_numeric_id;
    header.method_id = method_id;
    header.client_id = m_client_id;
    header.session_id = session;
    header.interface_version = m_description.major_version;
    header.message_type = someip::Message_type::kRequest;
    header.length = someip::kLength_offset + static_cast<std::uint32_t>(args.size());
    const auto deadline = Clock::now() + m_timeout;
    m_pending.emplace(session, Pending{deadline, std::move(promise)});
    // One deadline per port is armed with the I/O thread, for its earliest waiting call; answered
    // calls need no cancellation and the loop's deadline queue stays as small as the number of ports.
    const bool arm = !m_armed_deadline || deadline < *m_armed_deadline;
    if (arm)
    {
        m_armed_deadline = deadline;
    }
    auto connection = m_connection;
    // A lone call made outside the I/O thread is most likely waited for at once: its connection is
    // taken out of the I/O thread's wait before the request goes, so that the reply is read by the
    // waiting thread instead of waking a worker first. A waiter that does not come within the
    // grace time gives the connection back (check_reservation).
    const bool lone = m_pending.size() == 1 && !m_runtime->loop().in_loop_thread();
    const bool check = lone && !m_reservation_check_armed;
    if (check)
    {
        m_reservation_check_armed = true;
    }
    lock.unlock();
    if (lone)
    {
        connection->reserve();
    }
    else
    {
        connection->unreserve_unless_newer_than(Clock::time_point::max());
    }
    if (check)
    {
        m_runtime->loop().schedule(Clock::now() + s_reservation_grace, weak_from_this(), s_reservation_tag);
    }
    // Sent once recorded, so that the reply finds it, and outside the port's lock: the send wakes
    // the provider, which may take this CPU before the send returns.
    const bool sent = connection->send(header, args.data(), args.size());
    if (!sent)
    {
        // The connection is going; its close fails this call with the others.
        ara::log::LogDebug() << "com: call not sent, connection closing";
    }
    if (arm)
    {
        m_runtime->loop().schedule(deadline, weak_from_this(), 0);
    }
    return future;
}

void Rport_core::check_reservation()
{
    std::shared_ptr<Connection> connection;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reservation_check_armed = false;
        connection = m_connection;
    }
    if (!connection || !connection->unreserve_unless_newer_than(Clock::now() - s_reservation_grace))
    {
        return;
    }
    // A newer reservation is still waiting for its caller: look again later.
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_reservation_check_armed)
        {
            return;
        }
        m_reservation_check_armed = true;
    }
    m_runtime->loop().schedule(Clock::now() + s_reservation_grace, weak_from_this(), s_reservation_tag);
}

void Rport_core::help_wait(const std::function<bool()>& ready)
{
    if (m_runtime->loop().in_loop_thread())
    {
        return;
    }
    std::shared_ptr<Connection> connection;
    std::chrono::milliseconds timeout{};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pending.size() > 1)
        {
            // With other calls waiting, the I/O thread reads the replies of all of them in one go.
            return;
        }
        connection = m_connection;
        timeout = m_timeout;
    }
    if (connection)
    {
        connection->read_here_until(ready, timeout);
    }
}

void Rport_core::fail_all_pending(const std::string& reason)
{
    std::unordered_map<std::uint16_t, Pending> failed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        failed.swap(m_pending);
    }
    for (auto& [session, pending] : failed)
    {
        // One exception per waiter: each ends its life on the thread that catches it.
        pending.promise.set_exception(make_error<Transport_exception>(reason));
    }
}

void Rport_core::on_frame(const std::shared_ptr<Connection>& connection,
                          const someip::Message_header& header,
                          const Serialized_payload& payload)
{
    using someip::Message_type;
    switch (header.message_type)
    {
    case Message_type::kResponse:
    case Message_type::kError:
    {
        if (header.message_type == Message_type::kError && header.session_id == 0)
        {
            // Calls never use session 0: this refuses the subscription to the event it names.
            report_refused_subscription(header.method_id, header.return_code);
            return;
        }
        std::optional<Pending> pending;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto found = m_pending.find(header.session_id);
            if (found == m_pending.end() || connection != m_connection)
            {
                return;
            }
            pending.emplace(std::move(found->second));
            m_pending.erase(found);
        }
        if (header.message_type == Message_type::kResponse && header.return_code == someip::return_code::kOk)
        {
            pending->promise.set_value(payload);
        }
        else if (header.return_code == someip::return_code::kNotReady ||
                 header.return_code == someip::return_code::kUnknownService)
        {
            pending->promise.set_exception(make_error<Service_not_available_exception>());
        }
        else if (header.return_code == someip::return_code::kAccessDenied)
        {
            pending->promise.set_exception(make_error<Access_denied_exception>());
        }
        else
        {
            pending->promise.set_exception(make_error<cpp_binding::Application_error_exception>(header.return_code));
        }
        return;
    }
    case Message_type::kNotification:
    {
        const auto event_id = static_cast<std::uint16_t>(header.method_id & ~someip::kEvent_flag);
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_events.find(event_id);
        if (found == m_events.end() || !found->second.subscribed)
        {
            return;
        }
        Event& event = found->second;
        event.samples.push_back(payload);
        while (event.samples.size() > event.max_samples)
        {
            event.samples.pop_front();
        }
        if (event.handler && !event.handler_posted)
        {
            event.handler_posted = true;
            m_strand.post(
                [weak = weak_from_this(), event_id]
                {
                    if (auto self = weak.lock())
                    {
                        self->run_receive_handler(event_id);
                    }
                });
        }
        return;
    }
    case Message_type::kSubscribeAck:
        return;
    default:
        if (const auto verdict = log_limit(Limited_log::kBadFrame).check(connection->peer().uid); verdict.pass)
        {
            ara::log::LogWarn() << "com: dropping connection to " << connection->peer_name()
                                << ": unexpected message type " << static_cast<std::uint8_t>(header.message_type)
                                << verdict;
        }
        connection->close();
        return;
    }
}

Rport_core::Event_log_identity Rport_core::event_log_identity(std::uint16_t event_id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return {m_handle.service_id.to_string(), m_handle.instance_id.to_string(), (m_connection_serial << 16) | event_id};
}

void Rport_core::report_undecodable(std::uint16_t event_id, std::size_t payload_bytes)
{
    const auto [service, instance, key] = event_log_identity(event_id);
    if (const auto verdict = m_undecodable_log.check(key); verdict.pass)
    {
        ara::log::LogWarn() << "com: dropping an undecodable notification of " << service << " instance " << instance
                            << " event " << event_id << ": " << static_cast<std::uint64_t>(payload_bytes)
                            << " payload bytes" << verdict;
    }
}

void Rport_core::report_refused_subscription(std::uint16_t event_id, std::uint8_t return_code)
{
    const auto [service, instance, key] = event_log_identity(event_id);
    if (const auto verdict = m_undecodable_log.check(key | (std::uint64_t{1} << 63)); verdict.pass)
    {
        ara::log::LogWarn() << "com: the subscription to event " << event_id << " of " << service << " instance "
                            << instance << " was refused"
                            << (return_code == someip::return_code::kAccessDenied ? ": access denied" : "") << verdict;
    }
}

void Rport_core::run_receive_handler(std::uint16_t event_id)
{
    std::lock_guard<std::mutex> running(m_handler_mutex);
    std::function<void()> handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_events.find(event_id);
        if (found == m_events.end())
        {
            return;
        }
        found->second.handler_posted = false;
        handler = found->second.handler;
    }
    if (handler)
    {
        handler();
    }
}

void Rport_core::on_closed(const std::shared_ptr<Connection>& connection)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (connection != m_connection)
        {
            return;
        }
        m_connection.reset();
    }
    ara::log::LogDebug() << "com: connection to " << connection->peer_name() << " lost";
    fail_all_pending("connection to the service lost");
    // The instance may already be offered again (or still be, by a process that merely closed us).
    m_runtime->loop().post(
        [weak = weak_from_this()]
        {
            if (auto self = weak.lock())
            {
                self->on_entries_changed(self->m_runtime->discovery().snapshot());
            }
        });
}

void Rport_core::on_deadline(std::uint64_t tag)
{
    if (tag == s_reservation_tag)
    {
        check_reservation();
        return;
    }
    std::vector<vela::com::Promise<Serialized_payload>> expired;
    std::chrono::milliseconds timeout{};
    std::optional<Clock::time_point> next;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto now = Clock::now();
        if (m_armed_deadline && *m_armed_deadline > now)
        {
            // An earlier deadline was armed after this one; that one is still coming.
            return;
        }
        for (auto it = m_pending.begin(); it != m_pending.end();)
        {
            if (it->second.deadline <= now)
            {
                expired.push_back(std::move(it->second.promise));
                it = m_pending.erase(it);
            }
            else
            {
                if (!next || it->second.deadline < *next)
                {
                    next = it->second.deadline;
                }
                ++it;
            }
        }
        m_armed_deadline = next;
        timeout = m_timeout;
    }
    if (next)
    {
        m_runtime->loop().schedule(*next, weak_from_this(), 0);
    }
    for (auto& promise : expired)
    {
        promise.set_exception(
            make_error<Transport_exception>("no reply within " + std::to_string(timeout.count()) + " ms"));
    }
}

void Rport_core::on_entries_changed(const std::vector<cpp_binding::Service_handle>& offered)
{
    cpp_binding::Service_handle wanted;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_shut_down || m_connection)
        {
            return;
        }
        wanted = m_handle;
    }
    for (const auto& handle : filter_handles(offered, wanted.service_id, wanted.instance_id))
    {
        if (connect_to(handle))
        {
            return;
        }
    }
}

void Rport_core::subscribe(std::uint16_t event_id, std::size_t max_samples)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Event& event = m_events[event_id];
    event.max_samples = max_samples == 0 ? 1 : max_samples;
    if (event.subscribed)
    {
        return;
    }
    event.subscribed = true;
    if (m_connection)
    {
        send_subscription(*m_connection, event_id, someip::Message_type::kSubscribe);
    }
}

void Rport_core::unsubscribe(std::uint16_t event_id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_events.find(event_id);
    if (found == m_events.end() || !found->second.subscribed)
    {
        return;
    }
    found->second.subscribed = false;
    found->second.samples.clear();
    if (m_connection)
    {
        send_subscription(*m_connection, event_id, someip::Message_type::kUnsubscribe);
    }
}

void Rport_core::set_receive_handler(std::uint16_t event_id, std::function<void()> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Event& event = m_events[event_id];
    event.handler = std::move(handler);
    if (!event.samples.empty() && !event.handler_posted)
    {
        event.handler_posted = true;
        m_strand.post(
            [weak = weak_from_this(), event_id]
            {
                if (auto self = weak.lock())
                {
                    self->run_receive_handler(event_id);
                }
            });
    }
}

void Rport_core::unset_receive_handler(std::uint16_t event_id)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_events.find(event_id);
        if (found != m_events.end())
        {
            found->second.handler = nullptr;
        }
    }
    if (!m_strand.running_in_this_thread())
    {
        std::lock_guard<std::mutex> running(m_handler_mutex);
    }
}

std::size_t Rport_core::take_samples(std::uint16_t event_id, std::vector<Serialized_payload>& out)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_events.find(event_id);
    if (found == m_events.end())
    {
        return 0;
    }
    const std::size_t count = found->second.samples.size();
    for (auto& sample : found->second.samples)
    {
        out.push_back(std::move(sample));
    }
    found->second.samples.clear();
    return count;
}

bool Rport_core::is_connected() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connection != nullptr;
}

void Rport_core::set_call_timeout(std::chrono::milliseconds timeout)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timeout = timeout;
}

} // namespace kest::com::internal

namespace kest::com::cpp_binding
{

Rport::Rport(Service_handle handle, connector::Service_interface_description description)
    : m_handle(handle)
    , m_core(std::make_shared<internal::Rport_core>(
          internal::Runtime::acquire(), std::move(handle), std::move(description)))
{
    m_core->start();
}

// shutdown() throws only when a mutex cannot be locked; ending the process then is right.
// NOLINTNEXTLINE(bugprone-exception-escape)
Rport::~Rport()
{
    m_core->shutdown();
}

vela::com::Future<vela::com::runtime::Serialized_payload>
Rport::call_method(std::uint16_t method_id, const vela::com::runtime::Serialized_payload& arguments)
{
    return m_core->call(method_id, arguments);
}

void Rport::subscribe_event(std::uint16_t event_id, std::size_t max_samples)
{
    m_core->subscribe(event_id, max_samples);
}

void Rport::unsubscribe_event(std::uint16_t event_id)
{
    m_core->unsubscribe(event_id);
}

void Rport::set_receive_handler(std::uint16_t event_id, std::function<void()> handler)
{
    m_core->set_receive_handler(event_id, std::move(handler));
}

void Rport::unset_receive_handler(std::uint16_t event_id)
{
    m_core->unset_receive_handler(event_id);
}

std::size_t Rport::take_samples(std::uint16_t event_id, std::vector<vela::com::runtime::Serialized_payload>& out)
{
    return m_core->take_samples(event_id, out);
}

bool Rport::is_connected() const
{
    return m_core->is_connected();
}

void Rport::report_undecodable_sample(std::uint16_t event_id, std::size_t payload_bytes)
{
    m_core->report_undecodable(event_id, payload_bytes);
}

void Rport::set_call_timeout(std::chrono::milliseconds timeout)
{
    m_core->set_call_timeout(timeout);
}

} // namespace kest::com::cpp_binding
