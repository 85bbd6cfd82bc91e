#pragma once

#include "connection.hpp"
#include "kest/com/connector/service_interface_description.h"
#include "kest/com/someip/message_header.h"
#include "runtime.hpp"
#include "vela/com/runtime/types.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace kest::com::internal
{

class Access_control;
class Access_gate;
class Dispatcher_core;
struct Peer_identity;

/// The provider side of one instance: listening socket, discovery entry, connections,
/// subscriptions and field values.
class Pport_core : public Connection_owner, public std::enable_shared_from_this<Pport_core>
{
  public:
    Pport_core(std::shared_ptr<Runtime> runtime,
               vela::com::runtime::Service_id service,
               vela::com::runtime::Instance_id instance,
               connector::Service_interface_description description);
    ~Pport_core() override;

    void start_offer();
    void stop_offer();
    bool is_offered() const;
    void notify(std::uint16_t event_id, const vela::com::runtime::Serialized_payload& payload);
    void set_field(std::uint16_t event_id,
                   std::optional<std::uint16_t> getter,
                   const vela::com::runtime::Serialized_payload& value);
    void set_dispatcher(std::weak_ptr<class Dispatcher_core> dispatcher);

    enum class Accept_result
    {
        /// Nothing more is waiting.
        kDone,
        /// More may be waiting; the listening socket reports them again.
        kMore,
        /// Out of descriptors or memory: listen again after s_accept_pause.
        kPause
    };
    static constexpr std::chrono::milliseconds s_accept_pause{100};
    /// Accepts what waits on the listening socket, a bounded number per call; closes at once the
    /// connections beyond the bounds of the settings. I/O thread.
    Accept_result accept_connections(int listen_fd);
    /// The open connections, for inspection. Any thread.
    std::vector<std::shared_ptr<Connection>> connections() const;

    void on_frame(const std::shared_ptr<Connection>& connection,
                  const someip::Message_header& header,
                  const vela::com::runtime::Serialized_payload& payload) override;
    void on_closed(const std::shared_ptr<Connection>& connection) override;

    const Runtime& runtime() const noexcept { return *m_runtime; }

    /// Distinct events one connection may subscribe to; further subscriptions are ignored.
    static constexpr std::size_t s_max_subscriptions = 64;

  private:
    struct Field
    {
        std::optional<std::uint16_t> getter;
        vela::com::runtime::Serialized_payload value;
    };
    /// What the port keeps per connection.
    struct Peer
    {
        std::size_t subscriptions{0};
        /// The connection's access decisions, when access control is on.
        std::shared_ptr<Access_gate> gate;
    };

    /// The access gate of a new connection whose peer is identity. Under m_mutex.
    std::shared_ptr<Access_gate> make_gate(const std::shared_ptr<Access_control>& access,
                                           const Peer_identity& identity,
                                           const std::shared_ptr<Connection>& connection);
    /// What the frame asks for, done: a call dispatched, a subscription taken, a field's getter
    /// answered. I/O thread.
    void handle_frame(const std::shared_ptr<Connection>& connection,
                      const someip::Message_header& header,
                      const vela::com::runtime::Serialized_payload& payload);
    /// A frame its access gate has decided: handled when allowed, answered "access denied" when
    /// not. I/O thread.
    void deliver(const std::shared_ptr<Connection>& connection,
                 const someip::Message_header& header,
                 const vela::com::runtime::Serialized_payload& payload,
                 bool allowed);
    void reply(const std::shared_ptr<Connection>& connection,
               const someip::Message_header& request,
               std::uint8_t code,
               const vela::com::runtime::Serialized_payload* payload);
    void send_notification(Connection& connection,
                           std::uint16_t event_id,
                           const vela::com::runtime::Serialized_payload& payload);

    std::shared_ptr<Runtime> m_runtime;
    vela::com::runtime::Service_id m_service;
    vela::com::runtime::Instance_id m_instance;
    connector::Service_interface_description m_description;
    std::uint16_t m_numeric_id;
    // Accepting has failed for lack of resources since a connection was last accepted; only the
    // I/O thread uses it.
    bool m_accept_failing{false};
    // Guards everything below: met by the I/O thread (accepting, receiving) and the threads that
    // offer, withdraw, notify and update fields.
    mutable std::mutex m_mutex;
    bool m_offered{false};
    int m_listen_fd{-1};
    std::string m_endpoint;
    std::string m_entry_file;
    std::unordered_map<std::shared_ptr<Connection>, Peer> m_connections;
    // Open connections per peer uid, root's not counted.
    std::unordered_map<uid_t, std::size_t> m_connections_per_uid;
    std::map<std::uint16_t, std::vector<std::shared_ptr<Connection>>> m_subscribers;
    std::map<std::uint16_t, Field> m_fields;
    std::weak_ptr<Dispatcher_core> m_dispatcher;
};

} // namespace kest::com::internal
