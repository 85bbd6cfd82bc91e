#pragma once

#include "ara/phm/phm_client.h"
#include "ara/phm/supervision_entity.h"

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

namespace vela::iam
{

/// Reports the daemon's alive checkpoint to health management.
class Alive_supervisor_interface
{
  public:
    virtual ~Alive_supervisor_interface() = default;
    /// Reports one checkpoint; whatever the platform raises passes to the caller.
    virtual void alive_check() = 0;
};

class Alive_supervisor final : public Alive_supervisor_interface
{
  public:
    Alive_supervisor(std::shared_ptr<ara::phm::Phm_client> client,
                     std::uint16_t supervision_entity_id,
                     std::uint16_t checkpoint_id);

    void alive_check() override;

  private:
    std::shared_ptr<ara::phm::Phm_client> m_client;
    ara::phm::SupervisionEntity m_supervision_entity;
    std::uint16_t m_supervision_entity_id;
    std::uint16_t m_checkpoint_id;
};

/// Makes a supervisor with a new health-management client; may throw.
using Alive_supervisor_factory = std::function<std::unique_ptr<Alive_supervisor_interface>()>;

/// The platform client of the daemon's supervision instance and checkpoint.
std::unique_ptr<Alive_supervisor_interface> create_platform_alive_supervisor();

/// When the ticks come.
struct Alive_timing
{
    std::chrono::milliseconds first_tick{10};
    std::chrono::milliseconds period{3000};
};

/// The alive timer on the event loop: each tick reports the checkpoint and logs how many
/// requests were answered. A failed report drops the supervisor (and its client); the next tick
/// builds new ones. Runs on the event-loop thread only.
class Alive_check final
{
  public:
    /// Creates the first supervisor at once (a failure throws).
    Alive_check(asio::io_context& io_service,
                std::uint64_t& request_counter,
                Alive_supervisor_factory factory = create_platform_alive_supervisor,
                Alive_timing timing = {});

    Alive_check(const Alive_check&) = delete;
    Alive_check& operator=(const Alive_check&) = delete;

    /// Arms the first tick.
    void start();

  private:
    void create_supervisor();
    void arm(std::chrono::milliseconds delay);
    void tick(const std::error_code& error);

    asio::steady_timer m_timer;
    std::uint64_t& m_request_counter;
    std::uint64_t m_total{0};
    Alive_supervisor_factory m_factory;
    Alive_timing m_timing;
    std::unique_ptr<Alive_supervisor_interface> m_supervisor;
};

} // namespace vela::iam
