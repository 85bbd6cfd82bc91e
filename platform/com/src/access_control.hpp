#pragma once

#include "clock.hpp"
#include "iam_client.hpp"
#include "kest/com/someip/message_header.h"
#include "settings.hpp"
#include "tarn1/log_limit/log_rate_limiter.hpp"
#include "vela/com/runtime/types.h"
#include "vela/iam/messages.hpp"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

namespace kest::com::internal
{

/// Who a peer is, as the kernel told it: the pid, uid and gid of SO_PEERCRED (or of the process
/// itself) and the start time of that pid when they were read, which no later process with the
/// same pid shares.
struct Peer_identity
{
    std::int32_t pid{0};
    std::uint64_t start_time{0};
    std::uint32_t uid{0};
    std::uint32_t gid{0};

    bool operator==(const Peer_identity& other) const
    {
        return pid == other.pid && start_time == other.start_time && uid == other.uid && gid == other.gid;
    }
};

/// One access check: who, which service (its numeric id), which member (method or event id; 0 for
/// offering and using) and which operation.
struct Access_key
{
    Peer_identity peer;
    std::uint16_t service{0};
    std::uint16_t member{0};
    vela::iam::Operation operation{vela::iam::Operation::Use_service};

    bool operator==(const Access_key& other) const
    {
        return peer == other.peer && service == other.service && member == other.member && operation == other.operation;
    }
    /// A hash over every field.
    std::uint64_t hash() const noexcept;
};

struct Access_key_hash
{
    std::size_t operator()(const Access_key& key) const noexcept { return static_cast<std::size_t>(key.hash()); }
};

/// What a check came to.
enum class Verdict : std::uint8_t
{
    kAllowed,
    /// The policy denies it.
    kDenied,
    /// The IAM daemon answered error (no identity domain for the peer, a failing policy service, ...).
    kError,
    /// The IAM daemon could not be asked or did not answer in time.
    kNoAnswer,
    /// The peer's process has ended (or its pid belongs to another process now).
    kPeerGone,
};

/// The verdict of a decision of the daemon, or of none.
Verdict verdict_of(std::optional<vela::iam::Decision> decision);

/// The decisions known for the checks of one connection, each for a bounded time, at most a
/// bounded number. Not thread safe: its owner's thread only.
class Decision_cache
{
  public:
    /// How long a decision of the daemon is taken as given; edits of the rules reach a connection
    /// that long after at the latest.
    static constexpr std::chrono::seconds s_lifetime{60};
    /// How long the lack of an answer stands before the daemon is asked again.
    static constexpr std::chrono::seconds s_no_answer_lifetime{1};
    /// Entries kept per connection; a connection asks about one use and a few methods and events.
    static constexpr std::size_t s_max_entries = 256;

    explicit Decision_cache(std::size_t max_entries = s_max_entries);

    /// The verdict for key if one is known and has not expired at now.
    std::optional<Verdict> find(const Access_key& key, Clock::time_point now);
    /// Keeps verdict for key from now on (the lack of an answer for less long); a full cache makes
    /// room by dropping the expired entries, or else the one that expires first.
    void store(const Access_key& key, Verdict verdict, Clock::time_point now);
    std::size_t size() const noexcept { return m_entries.size(); }

  private:
    struct Entry
    {
        Verdict verdict;
        Clock::time_point expires;
    };

    std::size_t m_max_entries;
    std::unordered_map<Access_key, Entry, Access_key_hash> m_entries;
};

/// What the log lines of a provided port name it by.
struct Port_names
{
    std::string service;
    std::string instance;
    std::uint16_t numeric_id{0};
};

/// The process's access control: the settings, the client of the IAM daemon and the denial log.
/// Shared by every provided and required port of the process. Any thread.
class Access_control
{
  public:
    Access_control(Access_mode mode, std::chrono::milliseconds timeout, std::shared_ptr<Iam_client_interface> iam);

    Access_mode mode() const noexcept { return m_mode; }
    std::chrono::milliseconds timeout() const noexcept { return m_timeout; }
    Iam_client_interface& iam() noexcept { return *m_iam; }

    /// Asks whether this process may offer the port's service, waiting at most the timeout. In
    /// enforce mode anything but an allowance throws Access_denied_exception (logged); in audit mode
    /// a denial is logged and the offer goes ahead. The offering thread.
    void check_offer(const Port_names& port);
    /// Whether what verdict says about key lets the frame pass: allowances pass; a refusal is
    /// logged (at most once per second per peer uid and resource) and passes only in audit mode.
    /// Any thread.
    bool admits(const Access_key& key, Verdict verdict, const Port_names& port);
    /// The IAM request of key.
    static vela::iam::Check_request_posix request_of(const Access_key& key);

  private:
    const Access_mode m_mode;
    const std::chrono::milliseconds m_timeout;
    std::shared_ptr<Iam_client_interface> m_iam;
    // The denial log: one line per second per peer uid and resource, 256 of them remembered.
    tarn1::log_limit::Log_rate_limiter m_denials{std::chrono::seconds(1), 1, 256};
};

/// The access decisions of one consumer connection of a provided port. Each frame is decided in
/// arrival order: its checks (using the service, then calling the method or subscribing to the
/// event) come from the connection's cache or, when it has none, from the IAM daemon, while the
/// frames behind it wait. The peer's identity is the kernel's, taken when the connection was
/// accepted; nothing in a frame changes it. I/O thread only.
class Access_gate : public std::enable_shared_from_this<Access_gate>
{
  public:
    struct Frame
    {
        someip::Message_header header;
        vela::com::runtime::Serialized_payload payload;
    };
    /// Hands a decided frame on, in arrival order: allowed, or refused. I/O thread.
    using Deliver = std::function<void(const Frame& frame, bool allowed)>;
    /// Whether the peer's process is still the one the identity names; reads /proc by default.
    using Alive = std::function<bool(const Peer_identity& peer)>;

    Access_gate(std::shared_ptr<Access_control> control,
                Peer_identity peer,
                Port_names port,
                Deliver deliver,
                Alive alive = {});

    /// Decides frame now when its checks are known and no frame waits; otherwise it waits its turn.
    void submit(Frame frame);
    /// Frames waiting for a decision.
    std::size_t waiting() const noexcept { return m_waiting.size(); }
    const Peer_identity& peer() const noexcept { return m_peer; }

  private:
    /// Whether the frame of header may pass, from the cache; none when a decision is missing, which
    /// it then asks the daemon for.
    std::optional<bool> decide(const someip::Message_header& header, Clock::time_point now);
    /// Hands on the waiting frames in order until one needs the daemon's answer, which it asks for.
    void drain();
    void on_answer(const Access_key& key, std::optional<vela::iam::Decision> decision);

    std::shared_ptr<Access_control> m_control;
    const Peer_identity m_peer;
    const Port_names m_port;
    Deliver m_deliver;
    Alive m_alive;
    Decision_cache m_cache;
    std::deque<Frame> m_waiting;
    bool m_asking{false};
};

} // namespace kest::com::internal
