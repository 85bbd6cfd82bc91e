#pragma once

#include "clock.hpp"
#include "connection.hpp"
#include "discovery.hpp"
#include "io_loop.hpp"
#include "kest/com/connector/service_interface_description.h"
#include "kest/com/cpp_binding/service_handle.h"
#include "kest/com/someip/message_header.h"
#include "kest/com/strand.h"
#include "tarn1/log_limit/log_rate_limiter.hpp"
#include "vela/com/future.h"
#include "vela/com/runtime/types.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kest::com::internal
{

class Runtime;

/// The consumer side of one instance: connection, calls waiting for replies, subscriptions.
class Rport_core : public Connection_owner,
                   public Deadline_target,
                   public Discovery_listener,
                   public vela::com::detail::Wait_helper,
                   public std::enable_shared_from_this<Rport_core>
{
  public:
    Rport_core(std::shared_ptr<Runtime> runtime,
               cpp_binding::Service_handle handle,
               connector::Service_interface_description description);
    ~Rport_core() override;

    void start();
    void shutdown();
    vela::com::Future<vela::com::runtime::Serialized_payload> call(std::uint16_t method_id,
                                                                   const vela::com::runtime::Serialized_payload& args);
    void subscribe(std::uint16_t event_id, std::size_t max_samples);
    void unsubscribe(std::uint16_t event_id);
    void set_receive_handler(std::uint16_t event_id, std::function<void()> handler);
    void unset_receive_handler(std::uint16_t event_id);
    std::size_t take_samples(std::uint16_t event_id, std::vector<vela::com::runtime::Serialized_payload>& out);
    bool is_connected() const;
    void set_call_timeout(std::chrono::milliseconds timeout);
    /// Logs a sample of event_id that could not be decoded, at most once per second per event and
    /// connection. Any thread.
    void report_undecodable(std::uint16_t event_id, std::size_t payload_bytes);

    void on_frame(const std::shared_ptr<Connection>& connection,
                  const someip::Message_header& header,
                  const vela::com::runtime::Serialized_payload& payload) override;
    void on_closed(const std::shared_ptr<Connection>& connection) override;
    void on_deadline(std::uint64_t tag) override;
    void on_entries_changed(const std::vector<cpp_binding::Service_handle>& offered) override;
    /// A thread waiting for a reply reads the connection itself (unless it is the I/O thread).
    void help_wait(const std::function<bool()>& ready) override;

  private:
    static constexpr std::uint64_t s_reservation_tag = 1;
    static constexpr std::chrono::milliseconds s_reservation_grace{2};

    struct Pending
    {
        Clock::time_point deadline;
        vela::com::Promise<vela::com::runtime::Serialized_payload> promise;
    };
    struct Event
    {
        bool subscribed{false};
        std::size_t max_samples{1};
        std::deque<vela::com::runtime::Serialized_payload> samples;
        std::function<void()> handler;
        bool handler_posted{false};
    };

    /// Connects to the instance of handle unless connected already; false when it cannot (or, with
    /// access control on, when another process than the entry's serves the socket).
    bool connect_to(const cpp_binding::Service_handle& handle);
    /// Whether the process that serves a socket is the one its entry names; logs why not.
    static bool served_by_entry(const cpp_binding::Service_handle& handle, const Peer_credentials& provider);
    /// Logs that the provider refused the subscription to event_id (at most once per second per
    /// event and connection). I/O thread.
    void report_refused_subscription(std::uint16_t event_id, std::uint8_t return_code);
    /// The service and instance of the log lines about event_id, and its log-limit key (per event
    /// and connection).
    struct Event_log_identity
    {
        std::string service;
        std::string instance;
        std::uint64_t key{0};
    };
    Event_log_identity event_log_identity(std::uint16_t event_id) const;
    void send_subscription(Connection& connection, std::uint16_t event_id, someip::Message_type type);
    void run_receive_handler(std::uint16_t event_id);
    void fail_all_pending(const std::string& reason);
    void check_reservation();

    std::shared_ptr<Runtime> m_runtime;
    connector::Service_interface_description m_description;
    std::uint16_t m_numeric_id;
    std::uint16_t m_client_id;
    Strand m_strand;
    // Held while a receive handler runs; unset_receive_handler takes it to wait for the handler's end.
    std::mutex m_handler_mutex;
    // Guards everything below: met by the I/O thread (replies, notifications, reconnection, timeouts),
    // the calling threads and the strand's worker.
    mutable std::mutex m_mutex;
    cpp_binding::Service_handle m_handle;
    std::shared_ptr<Connection> m_connection;
    // Counts the connections made, so that log limits apply per connection.
    std::uint64_t m_connection_serial{0};
    bool m_shut_down{false};
    std::chrono::milliseconds m_timeout;
    std::uint16_t m_next_session{0};
    std::optional<Clock::time_point> m_armed_deadline;
    bool m_reservation_check_armed{false};
    std::unordered_map<std::uint16_t, Pending> m_pending;
    std::map<std::uint16_t, Event> m_events;
    // Undecodable notifications and refused subscriptions, per event and connection.
    tarn1::log_limit::Log_rate_limiter m_undecodable_log{std::chrono::seconds(1), 1, 16};
};

} // namespace kest::com::internal
