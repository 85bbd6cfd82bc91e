#pragma once

#include "tarn1/log_limit/log_rate_limiter.hpp"

namespace kest::com::internal
{

/// The messages a peer (or a failing callback) can cause as often as it likes; each kind has its
/// own limiter, keyed by the peer's uid unless its use says otherwise.
enum class Limited_log
{
    /// A malformed frame or a message type out of place closed a connection.
    kBadFrame,
    /// A peer left too much unread; its connection was dropped.
    kSlowReader,
    /// A connection beyond the endpoint's bounds was closed at once.
    kRefusedConnection,
    /// Accepting paused for lack of descriptors or memory; keyed by the listening socket.
    kAcceptPaused,
    /// A method handler threw; keyed by the caller's uid and the method.
    kMethodFailed,
    /// A subscription beyond the bound of its connection was ignored.
    kTooManySubscriptions,
    /// Discovery found more entries or providers than it keeps.
    kDiscoveryFull,
    /// A callback on a worker thread threw; keyed 0 for std::exception, 1 for anything else.
    kCallbackFailed,
    /// The IAM daemon could not be asked or did not answer; keyed by the kind of failure.
    kIamFailed,
    /// A consumer found an instance's socket served by another process than its entry names, or was
    /// refused a subscription; keyed by the entry's pid and the event.
    kProviderRefused,
};

/// The process's limiter of one kind; created on first use, never destroyed (a worker may still
/// log while the process ends). Any thread.
tarn1::log_limit::Log_rate_limiter& log_limit(Limited_log kind);

} // namespace kest::com::internal
