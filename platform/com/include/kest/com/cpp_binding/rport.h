#pragma once

#include "kest/com/connector/service_interface_description.h"
#include "kest/com/cpp_binding/service_handle.h"
#include "vela/com/future.h"
#include "vela/com/runtime/types.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kest::com::internal
{
class Rport_core;
}

namespace kest::com::cpp_binding
{

/// The required port of a proxy: one connection to the instance named by a handle. When the
/// provider goes away the port waits for the instance to be offered again and reconnects, renewing
/// its subscriptions.
class Rport
{
  public:
    Rport(Service_handle handle, connector::Service_interface_description description);
    /// Fails calls still waiting and closes the connection; receive handlers no longer run afterwards.
    /// Throws only when a mutex cannot be locked or memory runs out; ending the process then is right.
    // NOLINTNEXTLINE(bugprone-exception-escape)
    ~Rport();

    Rport(const Rport&) = delete;
    Rport& operator=(const Rport&) = delete;

    /// Sends a request; the future gets the reply payload, or Service_not_available_exception when
    /// not connected, Transport_exception when the connection drops or no reply comes within the call
    /// timeout, Application_error_exception for a non-zero return code. Any thread.
    vela::com::Future<vela::com::runtime::Serialized_payload>
    call_method(std::uint16_t method_id, const vela::com::runtime::Serialized_payload& arguments);

    /// Subscribes to event_id, keeping at most max_samples received samples until taken.
    void subscribe_event(std::uint16_t event_id, std::size_t max_samples);
    void unsubscribe_event(std::uint16_t event_id);
    /// Runs on a worker thread after samples arrived, never concurrently with this port's other
    /// handlers; arrivals while it is pending are covered by the one run.
    void set_receive_handler(std::uint16_t event_id, std::function<void()> handler);
    /// Returns once the handler no longer runs (unless called from it).
    void unset_receive_handler(std::uint16_t event_id);
    /// Moves the samples received since the last call, oldest first, into out; returns how many.
    std::size_t take_samples(std::uint16_t event_id, std::vector<vela::com::runtime::Serialized_payload>& out);

    /// Logs at warning level that a received sample of event_id could not be decoded and was
    /// dropped (at most once per second per event and connection). Any thread.
    void report_undecodable_sample(std::uint16_t event_id, std::size_t payload_bytes);

    bool is_connected() const;
    /// Replaces the call timeout (default: TARN1_COM_CALL_TIMEOUT_MS or 5000 ms).
    void set_call_timeout(std::chrono::milliseconds timeout);
    const Service_handle& handle() const noexcept { return m_handle; }

  private:
    Service_handle m_handle;
    std::shared_ptr<internal::Rport_core> m_core;
};

} // namespace kest::com::cpp_binding
