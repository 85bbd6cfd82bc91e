#include "kest/com/cpp_binding/pport.h"

#include "access_control.hpp"
#include "ara/log/logging.h"
#include "clock.hpp"
#include "connection.hpp"
#include "dispatcher_core.hpp"
#include "io_loop.hpp"
#include "kest/com/cpp_binding/field_handler.h"
#include "kest/com/exceptions.h"
#include "log_limits.hpp"
#include "pport_core.hpp"
#include "process_info.hpp"
#include "runtime.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace kest::com::internal
{

namespace
{

std::uint64_t own_start_time()
{
    static const std::uint64_t s_start_time = process_start_time(::getpid());
    return s_start_time;
}

/// Accepts the connections of one port's listening socket. When accepting fails for lack of
/// descriptors or memory, the socket leaves the wait for a while: it would report the same waiting
/// connection again at once and keep the workers spinning.
class Listener : public Io_handler, public Deadline_target, public std::enable_shared_from_this<Listener>
{
  public:
    Listener(Io_loop& loop, std::weak_ptr<Pport_core> port, int fd)
        : m_loop(loop)
        , m_port(std::move(port))
        , m_fd(fd)
    {
    }
    void on_io(std::uint32_t /*events*/) override
    {
        auto port = m_port.lock();
        if (port && port->accept_connections(m_fd) == Pport_core::Accept_result::kPause)
        {
            m_loop.suspend(m_fd);
            m_loop.schedule(Clock::now() + Pport_core::s_accept_pause, weak_from_this(), 0);
        }
    }
    void on_deadline(std::uint64_t /*tag*/) override
    {
        // Once the socket is closed the loop no longer holds this listener and the deadline finds
        // nobody; until then the descriptor is still this listener's.
        m_loop.resume(m_fd, EPOLLIN);
    }

  private:
    Io_loop& m_loop;
    std::weak_ptr<Pport_core> m_port;
    int m_fd;
};

/// The uid a connection counts under; a peer whose credentials cannot be read counts as an
/// unprivileged user of its own.
uid_t counted_uid(const Peer_credentials& peer)
{
    return peer.known ? peer.uid : static_cast<uid_t>(-1);
}

} // namespace

Pport_core::Pport_core(std::shared_ptr<Runtime> runtime,
                       vela::com::runtime::Service_id service,
                       vela::com::runtime::Instance_id instance,
                       connector::Service_interface_description description)
    : m_runtime(std::move(runtime))
    , m_service(std::move(service))
    , m_instance(std::move(instance))
    , m_description(std::move(description))
    , m_numeric_id(m_description.numeric_service_id())
{
}

Pport_core::~Pport_core()
{
    stop_offer();
}

void Pport_core::start_offer()
{
    if (const auto& access = m_runtime->access(); access && !is_offered())
    {
        // Asked before anything is published: a refused offer leaves no trace in discovery.
        access->check_offer(Port_names{m_service.to_string(), m_instance.to_string(), m_numeric_id});
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_offered)
    {
        return;
    }
    const std::string directory = m_runtime->settings().directory;
    const std::string endpoint =
        directory + "/p" + std::to_string(::getpid()) + "-" + std::to_string(m_runtime->next_id()) + ".sock";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (endpoint.size() >= sizeof address.sun_path)
    {
        throw Infrastructure_exception("socket path too long: " + endpoint);
    }
    std::memcpy(address.sun_path, endpoint.c_str(), endpoint.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
    {
        throw Infrastructure_exception(std::string("cannot create a socket: ") +
                                       std::generic_category().message(errno));
    }
    ::unlink(endpoint.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 128) != 0)
    {
        const std::string reason = std::generic_category().message(errno);
        ::close(fd);
        throw Infrastructure_exception("cannot listen on " + endpoint + ": " + reason);
    }
    ::chmod(endpoint.c_str(), 0666);

    cpp_binding::Service_handle handle;
    handle.service_id = m_service;
    handle.instance_id = m_instance;
    handle.endpoint = endpoint;
    handle.pid = ::getpid();
    handle.start_time = own_start_time();
    try
    {
        m_runtime->loop().add(fd, EPOLLIN, std::make_shared<Listener>(m_runtime->loop(), weak_from_this(), fd));
        m_entry_file = m_runtime->discovery().publish(handle, m_description);
    }
    catch (...)
    {
        m_runtime->loop().remove(fd);
        ::close(fd);
        ::unlink(endpoint.c_str());
        throw;
    }
    m_listen_fd = fd;
    m_endpoint = endpoint;
    m_offered = true;
    ara::log::LogDebug() << "com: offering " << m_service.to_string() << " instance " << m_instance.to_string()
                         << " at " << m_endpoint;
}

void Pport_core::stop_offer()
{
    std::unordered_map<std::shared_ptr<Connection>, Peer> connections;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_offered)
        {
            return;
        }
        m_offered = false;
        m_runtime->discovery().withdraw(m_entry_file);
        const int fd = m_listen_fd;
        m_listen_fd = -1;
        // Closed on the I/O thread, so an accept there never meets a reused descriptor.
        // The loop runs its queued tasks before it ends, so the pointer outlives the task.
        m_runtime->loop().post(
            [loop = &m_runtime->loop(), fd]
            {
                loop->remove(fd);
                ::close(fd);
            });
        ::unlink(m_endpoint.c_str());
        connections.swap(m_connections);
        m_connections_per_uid.clear();
        m_subscribers.clear();
    }
    for (const auto& [connection, peer] : connections)
    {
        connection->close();
    }
}

bool Pport_core::is_offered() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_offered;
}

Pport_core::Accept_result Pport_core::accept_connections(int listen_fd)
{
    // A bounded number per turn, so that a flood of connections cannot keep the I/O thread here.
    constexpr int s_max_accepts = 64;
    for (int attempt = 0; attempt < s_max_accepts; ++attempt)
    {
        const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
        {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED || error == EPROTO)
            {
                continue;
            }
            if (error == EAGAIN || error == EWOULDBLOCK)
            {
                m_accept_failing = false;
                return Accept_result::kDone;
            }
            // Out of descriptors or memory (EMFILE, ENFILE, ENOBUFS, ENOMEM), or something
            // unforeseen: the connection stays queued and the socket would report it again at once.
            if (!m_accept_failing)
            {
                // Once per episode, until a connection is accepted again or none waits any more.
                m_accept_failing = true;
                const auto verdict = log_limit(Limited_log::kAcceptPaused).check(static_cast<std::uint64_t>(listen_fd));
                if (verdict.pass)
                {
                    ara::log::LogWarn() << "com: cannot accept connections to " << m_service.to_string() << " instance "
                                        << m_instance.to_string() << ": " << std::generic_category().message(error)
                                        << "; accepting paused for 100 ms" << verdict;
                }
            }
            return Accept_result::kPause;
        }
        m_accept_failing = false;
        const Peer_credentials peer = Connection::credentials_of(fd);
        const uid_t uid = counted_uid(peer);
        const auto& access = m_runtime->access();
        // Read before the port's lock is taken: the start time comes from /proc. Unknown credentials
        // make an identity of no process, which every check refuses.
        const Peer_identity identity = access && peer.known
                                           ? Peer_identity{static_cast<std::int32_t>(peer.pid),
                                                           process_start_time(static_cast<std::int32_t>(peer.pid)),
                                                           static_cast<std::uint32_t>(peer.uid),
                                                           static_cast<std::uint32_t>(peer.gid)}
                                           : Peer_identity{};
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_offered || m_listen_fd != listen_fd)
        {
            lock.unlock();
            ::close(fd);
            continue;
        }
        const auto& settings = m_runtime->settings();
        const auto of_user = m_connections_per_uid.find(uid);
        const std::size_t user_count = of_user == m_connections_per_uid.end() ? 0 : of_user->second;
        const bool too_many = m_connections.size() >= settings.max_connections;
        if (too_many || (uid != 0 && user_count >= settings.max_connections_per_uid))
        {
            const std::size_t open = too_many ? m_connections.size() : user_count;
            lock.unlock();
            ::close(fd);
            if (const auto verdict = log_limit(Limited_log::kRefusedConnection).check(uid); verdict.pass)
            {
                ara::log::LogWarn() << "com: refusing a connection of pid " << static_cast<std::int32_t>(peer.pid)
                                    << " (uid " << static_cast<std::uint32_t>(uid) << ") to " << m_service.to_string()
                                    << " instance " << m_instance.to_string() << ": "
                                    << static_cast<std::uint64_t>(open)
                                    << (too_many ? " connections open" : " connections of that user open") << verdict;
            }
            continue;
        }
        auto connection = std::make_shared<Connection>(m_runtime->loop(),
                                                       fd,
                                                       weak_from_this(),
                                                       "pid " + std::to_string(peer.pid),
                                                       peer,
                                                       Connection::Reading::kEdge);
        Peer state;
        if (access)
        {
            state.gate = make_gate(access, identity, connection);
        }
        m_connections.emplace(connection, std::move(state));
        if (uid != 0)
        {
            ++m_connections_per_uid[uid];
        }
        lock.unlock();
        try
        {
            connection->open();
        }
        catch (const std::exception& error)
        {
            // The kernel would not watch one more descriptor: this connection goes, the port stays.
            if (const auto verdict = log_limit(Limited_log::kRefusedConnection).check(uid); verdict.pass)
            {
                ara::log::LogWarn() << "com: cannot serve a connection to " << m_service.to_string() << ": "
                                    << error.what() << verdict;
            }
            connection->close();
        }
    }
    return Accept_result::kMore;
}

std::shared_ptr<Access_gate> Pport_core::make_gate(const std::shared_ptr<Access_control>& access,
                                                   const Peer_identity& identity,
                                                   const std::shared_ptr<Connection>& connection)
{
    return std::make_shared<Access_gate>(access,
                                         identity,
                                         Port_names{m_service.to_string(), m_instance.to_string(), m_numeric_id},
                                         [port = weak_from_this(), weak = std::weak_ptr<Connection>(connection)](
                                             const Access_gate::Frame& frame, bool allowed)
                                         {
                                             const auto self = port.lock();
                                             const auto open = weak.lock();
                                             if (self && open)
                                             {
                                                 self->deliver(open, frame.header, frame.payload, allowed);
                                             }
                                         });
}

std::vector<std::shared_ptr<Connection>> Pport_core::connections() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::shared_ptr<Connection>> open;
    open.reserve(m_connections.size());
    for (const auto& [connection, peer] : m_connections)
    {
        open.push_back(connection);
    }
    return open;
}

void Pport_core::reply(const std::shared_ptr<Connection>& connection,
                       const someip::Message_header& request,
                       std::uint8_t code,
                       const vela::com::runtime::Serialized_payload* payload)
{
    if (request.message_type != someip::Message_type::kRequest)
    {
        return;
    }
    someip::Message_header header = request;
    header.message_type =
        code == someip::return_code::kOk ? someip::Message_type::kResponse : someip::Message_type::kError;
    header.return_code = code;
    header.length = someip::kLength_offset + static_cast<std::uint32_t>(payload ? payload->size() : 0);
    connection->send(header, payload ? payload->data() : nullptr, payload ? payload->size() : 0);
}

void Pport_core::send_notification(Connection& connection,
                                   std::uint16_t event_id,
                                   const vela::com::runtime::Serialized_payload& payload)
{
    someip::Message_header header;
    header.service_id = m_numeric_id;
    header.method_id = static_cast<std::uint16_t>(someip::kEvent_flag | event_id);
    header.interface_version = m_description.major_version;
    header.message_type = someip::Message_type::kNotification;
    header.length = someip::kLength_offset + static_cast<std::uint32_t>(payload.size());
    connection.send(header, payload.data(), payload.size());
}

void Pport_core::on_frame(const std::shared_ptr<Connection>& connection,
                          const someip::Message_header& header,
                          const vela::com::runtime::Serialized_payload& payload)
{
    using someip::Message_type;
    std::shared_ptr<Access_gate> gate;
    if (m_runtime->access())
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_connections.find(connection);
        if (found == m_connections.end())
        {
            // Withdrawn: the connection is closing.
            return;
        }
        gate = found->second.gate;
    }
    if (!gate)
    {
        handle_frame(connection, header, payload);
        return;
    }
    switch (header.message_type)
    {
    case Message_type::kRequest:
    case Message_type::kRequestNoReturn:
    case Message_type::kSubscribe:
    case Message_type::kUnsubscribe:
        // Held while it waits for its decision like a request waiting for its handler, so that a
        // peer cannot make the gate hold more than the connection's bounds.
        connection->hold_request(payload.size());
        gate->submit(Access_gate::Frame{header, payload});
        return;
    default:
        handle_frame(connection, header, payload);
        return;
    }
}

void Pport_core::deliver(const std::shared_ptr<Connection>& connection,
                         const someip::Message_header& header,
                         const vela::com::runtime::Serialized_payload& payload,
                         bool allowed)
{
    connection->release_request(payload.size());
    if (allowed)
    {
        handle_frame(connection, header, payload);
        return;
    }
    if (header.message_type == someip::Message_type::kRequest)
    {
        reply(connection, header, someip::return_code::kAccessDenied, nullptr);
    }
    else if (header.message_type == someip::Message_type::kSubscribe)
    {
        // No acknowledgement and no notifications; the error names the event in the method-id field.
        someip::Message_header refusal = header;
        refusal.message_type = someip::Message_type::kError;
        refusal.return_code = someip::return_code::kAccessDenied;
        refusal.length = someip::kLength_offset;
        connection->send(refusal, nullptr, 0);
    }
    // A request without reply that is refused is dropped unexecuted.
}

void Pport_core::handle_frame(const std::shared_ptr<Connection>& connection,
                              const someip::Message_header& header,
                              const vela::com::runtime::Serialized_payload& payload)
{
    using someip::Message_type;
    switch (header.message_type)
    {
    case Message_type::kRequest:
    case Message_type::kRequestNoReturn:
    {
        if (header.service_id != m_numeric_id)
        {
            reply(connection, header, someip::return_code::kUnknownService, nullptr);
            return;
        }
        if (header.interface_version != m_description.major_version)
        {
            reply(connection, header, someip::return_code::kWrongInterfaceVersion, nullptr);
            return;
        }
        std::shared_ptr<Dispatcher_core> dispatcher;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (const auto& [event_id, field] : m_fields)
            {
                if (field.getter && *field.getter == header.method_id)
                {
                    reply(connection, header, someip::return_code::kOk, &field.value);
                    return;
                }
            }
            dispatcher = m_dispatcher.lock();
        }
        if (!dispatcher)
        {
            reply(connection, header, someip::return_code::kNotReady, nullptr);
            return;
        }
        // Held until its handler starts, so that a peer that sends faster than the handlers work
        // is not read any further (its requests stay in its socket).
        connection->hold_request(payload.size());
        dispatcher->dispatch(cpp_binding::Reply_token{connection, header}, payload);
        return;
    }
    case Message_type::kSubscribe:
    {
        const std::uint16_t event_id = header.method_id;
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto peer = m_connections.find(connection);
        if (peer == m_connections.end())
        {
            return;
        }
        auto& subscribers = m_subscribers[event_id];
        if (std::find(subscribers.begin(), subscribers.end(), connection) == subscribers.end())
        {
            if (peer->second.subscriptions >= s_max_subscriptions)
            {
                if (subscribers.empty())
                {
                    m_subscribers.erase(event_id);
                }
                if (const auto verdict = log_limit(Limited_log::kTooManySubscriptions).check(connection->peer().uid);
                    verdict.pass)
                {
                    ara::log::LogWarn() << "com: ignoring a subscription of " << connection->peer_name() << " to event "
                                        << event_id << ": " << static_cast<std::uint64_t>(s_max_subscriptions)
                                        << " events subscribed already" << verdict;
                }
                return;
            }
            subscribers.push_back(connection);
            ++peer->second.subscriptions;
        }
        someip::Message_header ack = header;
        ack.message_type = Message_type::kSubscribeAck;
        ack.length = someip::kLength_offset;
        connection->send(ack, nullptr, 0);
        const auto field = m_fields.find(event_id);
        if (field != m_fields.end())
        {
            send_notification(*connection, event_id, field->second.value);
        }
        return;
    }
    case Message_type::kUnsubscribe:
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto found = m_subscribers.find(header.method_id);
        const auto peer = m_connections.find(connection);
        if (found == m_subscribers.end() || peer == m_connections.end())
        {
            return;
        }
        auto& subscribers = found->second;
        const auto position = std::find(subscribers.begin(), subscribers.end(), connection);
        if (position == subscribers.end())
        {
            return;
        }
        subscribers.erase(position);
        --peer->second.subscriptions;
        if (subscribers.empty())
        {
            m_subscribers.erase(found);
        }
        return;
    }
    default:
        if (const auto verdict = log_limit(Limited_log::kBadFrame).check(connection->peer().uid); verdict.pass)
        {
            ara::log::LogWarn() << "com: dropping connection of " << connection->peer_name()
                                << ": unexpected message type " << static_cast<std::uint8_t>(header.message_type)
                                << verdict;
        }
        connection->close();
        return;
    }
}

void Pport_core::on_closed(const std::shared_ptr<Connection>& connection)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_connections.erase(connection) == 0)
    {
        // Withdrawn meanwhile: the counts went with the offer.
        return;
    }
    const uid_t uid = counted_uid(connection->peer());
    if (const auto of_user = m_connections_per_uid.find(uid); of_user != m_connections_per_uid.end())
    {
        if (--of_user->second == 0)
        {
            m_connections_per_uid.erase(of_user);
        }
    }
    for (auto it = m_subscribers.begin(); it != m_subscribers.end();)
    {
        auto& subscribers = it->second;
        subscribers.erase(std::remove(subscribers.begin(), subscribers.end(), connection), subscribers.end());
        it = subscribers.empty() ? m_subscribers.erase(it) : std::next(it);
    }
}

void Pport_core::notify(std::uint16_t event_id, const vela::com::runtime::Serialized_payload& payload)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_subscribers.find(event_id);
    if (found == m_subscribers.end())
    {
        return;
    }
    for (const auto& connection : found->second)
    {
        send_notification(*connection, event_id, payload);
    }
}

void Pport_core::set_field(std::uint16_t event_id,
                           std::optional<std::uint16_t> getter,
                           const vela::com::runtime::Serialized_payload& value)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto& field = m_fields[event_id];
        if (getter)
        {
            field.getter = getter;
        }
        field.value = value;
    }
    notify(event_id, value);
}

void Pport_core::set_dispatcher(std::weak_ptr<Dispatcher_core> dispatcher)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dispatcher = std::move(dispatcher);
}

} // namespace kest::com::internal

namespace kest::com::cpp_binding
{

Pport::Pport(vela::com::runtime::Service_id service,
             vela::com::runtime::Instance_id instance,
             connector::Service_interface_description description)
    : m_core(std::make_shared<internal::Pport_core>(
          internal::Runtime::acquire(), std::move(service), std::move(instance), std::move(description)))
{
}

Pport::~Pport()
{
    m_core->stop_offer();
}

void Pport::start_offer()
{
    m_core->start_offer();
}

void Pport::stop_offer()
{
    m_core->stop_offer();
}

bool Pport::is_offered() const
{
    return m_core->is_offered();
}

void Pport::notify(std::uint16_t event_id, const vela::com::runtime::Serialized_payload& payload)
{
    m_core->notify(event_id, payload);
}

Field_handler::Field_handler(Pport& port)
    : m_port(port)
{
}

void Field_handler::add_field(std::uint16_t event_id, std::optional<std::uint16_t> getter_method_id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_has_value.emplace(event_id, false);
    if (getter_method_id)
    {
        m_getters[event_id] = *getter_method_id;
    }
}

void Field_handler::update(std::uint16_t event_id, const vela::com::runtime::Serialized_payload& value)
{
    std::optional<std::uint16_t> getter;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_has_value[event_id] = true;
        const auto found = m_getters.find(event_id);
        if (found != m_getters.end())
        {
            getter = found->second;
        }
    }
    m_port.core()->set_field(event_id, getter, value);
}

void Field_handler::run_offer_cond_checks() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& [event_id, has_value] : m_has_value)
    {
        if (!has_value)
        {
            throw Infrastructure_exception("field with event id " + std::to_string(event_id) +
                                           " has no value; it cannot be offered");
        }
    }
}

} // namespace kest::com::cpp_binding
