#include "access_control.hpp"

#include "ara/log/logging.h"
#include "kest/com/exceptions.h"
#include "process_info.hpp"

#include <algorithm>
#include <unistd.h>

namespace kest::com::internal
{

using vela::iam::Decision;
using vela::iam::Operation;

namespace
{

/// What the denial log says the peer may not do, up to the service's name.
class Operation_text
{
  public:
    explicit Operation_text(const Access_key& key)
        : m_key(key)
    {
    }
    friend ara::log::LogStream& operator<<(ara::log::LogStream& stream, const Operation_text& text)
    {
        switch (text.m_key.operation)
        {
        case Operation::Provide_service:
            return stream << "offer ";
        case Operation::Use_service:
            return stream << "use ";
        case Operation::Call_method:
            return stream << "call method " << text.m_key.member << " of ";
        case Operation::Subscribe_event:
            return stream << "subscribe to event " << text.m_key.member << " of ";
        }
        return stream << "operation " << static_cast<std::int32_t>(text.m_key.operation) << " on ";
    }

  private:
    const Access_key& m_key;
};

const char* reason_of(Verdict verdict)
{
    switch (verdict)
    {
    case Verdict::kError:
        return " (the IAM daemon answered error)";
    case Verdict::kNoAnswer:
        return " (no answer from the IAM daemon)";
    case Verdict::kPeerGone:
        return " (the process has ended)";
    case Verdict::kAllowed:
    case Verdict::kDenied:
        break;
    }
    return "";
}

bool process_alive(const Peer_identity& peer)
{
    return peer.start_time != 0 && process_start_time(peer.pid) == peer.start_time;
}

/// The checks a frame needs: using the service, then the call or subscription it makes. A request
/// for another service (answered "unknown service") and everything else need none.
std::size_t checks_for(const someip::Message_header& header,
                       const Peer_identity& peer,
                       std::uint16_t service,
                       Access_key (&keys)[2])
{
    using someip::Message_type;
    Operation operation = Operation::Use_service;
    switch (header.message_type)
    {
    case Message_type::kRequest:
    case Message_type::kRequestNoReturn:
        if (header.service_id != service)
        {
            return 0;
        }
        operation = Operation::Call_method;
        break;
    case Message_type::kSubscribe:
        operation = Operation::Subscribe_event;
        break;
    default:
        return 0;
    }
    keys[0] = Access_key{peer, service, 0, Operation::Use_service};
    keys[1] = Access_key{peer, service, header.method_id, operation};
    return 2;
}

} // namespace

std::uint64_t Access_key::hash() const noexcept
{
    std::uint64_t hash = 1469598103934665603ULL;
    const auto mix = [&hash](std::uint64_t value)
    { hash ^= value + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2); };
    mix(static_cast<std::uint32_t>(peer.pid));
    mix(peer.start_time);
    mix((static_cast<std::uint64_t>(peer.uid) << 32) | peer.gid);
    mix((static_cast<std::uint64_t>(service) << 32) | (static_cast<std::uint64_t>(member) << 8) |
        static_cast<std::uint8_t>(operation));
    return hash;
}

Verdict verdict_of(std::optional<Decision> decision)
{
    if (!decision)
    {
        return Verdict::kNoAnswer;
    }
    switch (*decision)
    {
    case Decision::allowed:
        return Verdict::kAllowed;
    case Decision::denied:
        return Verdict::kDenied;
    case Decision::error:
        break;
    }
    return Verdict::kError;
}

Decision_cache::Decision_cache(std::size_t max_entries)
    : m_max_entries(std::max<std::size_t>(max_entries, 1))
{
}

std::optional<Verdict> Decision_cache::find(const Access_key& key, Clock::time_point now)
{
    const auto found = m_entries.find(key);
    if (found == m_entries.end())
    {
        return std::nullopt;
    }
    if (found->second.expires <= now)
    {
        m_entries.erase(found);
        return std::nullopt;
    }
    return found->second.verdict;
}

void Decision_cache::store(const Access_key& key, Verdict verdict, Clock::time_point now)
{
    if (m_entries.size() >= m_max_entries && m_entries.count(key) == 0)
    {
        for (auto it = m_entries.begin(); it != m_entries.end();)
        {
            it = it->second.expires <= now ? m_entries.erase(it) : std::next(it);
        }
        if (m_entries.size() >= m_max_entries)
        {
            m_entries.erase(std::min_element(m_entries.begin(),
                                             m_entries.end(),
                                             [](const auto& a, const auto& b)
                                             { return a.second.expires < b.second.expires; }));
        }
    }
    const auto lifetime =
        verdict == Verdict::kNoAnswer ? Clock::duration(s_no_answer_lifetime) : Clock::duration(s_lifetime);
    m_entries[key] = Entry{verdict, now + lifetime};
}

Access_control::Access_control(Access_mode mode,
                               std::chrono::milliseconds timeout,
                               std::shared_ptr<Iam_client_interface> iam)
    : m_mode(mode)
    , m_timeout(timeout)
    , m_iam(std::move(iam))
{
}

vela::iam::Check_request_posix Access_control::request_of(const Access_key& key)
{
    vela::iam::Check_request_posix request;
    request.identifier.pid = key.peer.pid;
    request.identifier.uid = key.peer.uid;
    request.identifier.gid = key.peer.gid;
    request.service.service_id = key.service;
    request.service.member_id = key.member;
    request.service.operation = key.operation;
    return request;
}

bool Access_control::admits(const Access_key& key, Verdict verdict, const Port_names& port)
{
    if (verdict == Verdict::kAllowed)
    {
        return true;
    }
    const bool audit = m_mode == Access_mode::kAudit;
    // Per user and resource: a user's many processes, or one making new connections, write no more.
    Access_key resource = key;
    resource.peer.pid = 0;
    resource.peer.start_time = 0;
    if (const auto logged = m_denials.check(resource.hash()); logged.pass)
    {
        ara::log::LogWarn() << (audit ? "com: access denied (audit mode, allowed anyway): pid "
                                      : "com: access denied: pid ")
                            << key.peer.pid << " (uid " << key.peer.uid << ", gid " << key.peer.gid << ") may not "
                            << Operation_text(key) << port.service << " instance " << port.instance
                            << reason_of(verdict) << logged;
    }
    return audit;
}

void Access_control::check_offer(const Port_names& port)
{
    // The offering process asks about itself, with the ids the kernel gives its connections.
    const Peer_identity self{static_cast<std::int32_t>(::getpid()),
                             process_start_time(static_cast<std::int32_t>(::getpid())),
                             static_cast<std::uint32_t>(::geteuid()),
                             static_cast<std::uint32_t>(::getegid())};
    const Access_key key{self, port.numeric_id, 0, Operation::Provide_service};
    if (!admits(key, verdict_of(m_iam->check_now(request_of(key), m_timeout)), port))
    {
        throw Access_denied_exception("access denied: this process may not offer " + port.service + " instance " +
                                      port.instance);
    }
}

Access_gate::Access_gate(
    std::shared_ptr<Access_control> control, Peer_identity peer, Port_names port, Deliver deliver, Alive alive)
    : m_control(std::move(control))
    , m_peer(peer)
    , m_port(std::move(port))
    , m_deliver(std::move(deliver))
    , m_alive(alive ? std::move(alive) : Alive(process_alive))
{
}

void Access_gate::submit(Frame frame)
{
    if (!m_waiting.empty() || m_asking)
    {
        m_waiting.push_back(std::move(frame));
        return;
    }
    // Nothing waits before it: decided at once when the cache knows, without queueing.
    const auto allowed = decide(frame.header, Clock::now());
    if (!allowed)
    {
        m_waiting.push_back(std::move(frame));
        return;
    }
    m_deliver(frame, *allowed);
}

std::optional<bool> Access_gate::decide(const someip::Message_header& header, Clock::time_point now)
{
    Access_key keys[2];
    const std::size_t count = checks_for(header, m_peer, m_port.numeric_id, keys);
    for (std::size_t i = 0; i < count; ++i)
    {
        auto verdict = m_cache.find(keys[i], now);
        if (!verdict && !m_alive(m_peer))
        {
            // The pid no longer names the process that connected: no decision about that pid may
            // reach this connection.
            m_cache.store(keys[i], Verdict::kPeerGone, now);
            verdict = Verdict::kPeerGone;
        }
        if (!verdict)
        {
            m_asking = true;
            const Access_key key = keys[i];
            m_control->iam().check(Access_control::request_of(key),
                                   now + m_control->timeout(),
                                   [weak = weak_from_this(), key](std::optional<Decision> decision)
                                   {
                                       if (auto gate = weak.lock())
                                       {
                                           gate->on_answer(key, decision);
                                       }
                                   });
            return std::nullopt;
        }
        if (!m_control->admits(keys[i], *verdict, m_port))
        {
            return false;
        }
    }
    return true;
}

void Access_gate::drain()
{
    // Handing a frame on may end the connection, and with it the last other owner of this gate.
    const auto self = shared_from_this();
    const auto now = Clock::now();
    while (!m_waiting.empty())
    {
        const auto allowed = decide(m_waiting.front().header, now);
        if (!allowed)
        {
            return;
        }
        const Frame frame = std::move(m_waiting.front());
        m_waiting.pop_front();
        m_deliver(frame, *allowed);
    }
}

void Access_gate::on_answer(const Access_key& key, std::optional<Decision> decision)
{
    m_asking = false;
    m_cache.store(key, verdict_of(decision), Clock::now());
    drain();
}

} // namespace kest::com::internal
