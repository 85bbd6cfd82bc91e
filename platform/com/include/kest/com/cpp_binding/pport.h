#pragma once

#include "kest/com/connector/service_interface_description.h"
#include "vela/com/runtime/types.h"

#include <cstdint>
#include <memory>

namespace kest::com::internal
{
class Pport_core;
}

namespace kest::com::cpp_binding
{

/// The provided port of one service instance: its listening socket and its discovery entry.
class Pport
{
  public:
    Pport(vela::com::runtime::Service_id service,
          vela::com::runtime::Instance_id instance,
          connector::Service_interface_description description);
    /// Withdraws the offer.
    ~Pport();

    Pport(const Pport&) = delete;
    Pport& operator=(const Pport&) = delete;

    /// Opens the instance's socket and publishes its discovery entry; a second call does nothing.
    /// Throws Infrastructure_exception when the socket or the entry cannot be created.
    void start_offer();
    /// Removes the entry, closes the socket and every connection of it; calls in flight get no reply
    /// and fail on the caller's side. Any thread; no-op when not offered.
    void stop_offer();
    bool is_offered() const;

    /// Sends a notification of event_id with payload to each current subscriber.
    void notify(std::uint16_t event_id, const vela::com::runtime::Serialized_payload& payload);

    std::shared_ptr<internal::Pport_core> core() const noexcept { return m_core; }

  private:
    std::shared_ptr<internal::Pport_core> m_core;
};

} // namespace kest::com::cpp_binding
