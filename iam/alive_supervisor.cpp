#include "iam/alive_supervisor.hpp"

#include "iam/configuration_provider.hpp"
#include "iam/iam_logger.hpp"

namespace vela::iam
{

Alive_supervisor::Alive_supervisor(std::shared_ptr<ara::phm::Phm_client> client,
                                   std::uint16_t supervision_entity_id,
                                   std::uint16_t checkpoint_id)
    : m_client(std::move(client))
    , m_supervision_entity(static_cast<const ara::phm::Phm_client_interface&>(*m_client))
    , m_supervision_entity_id(supervision_entity_id)
    , m_checkpoint_id(checkpoint_id)
{
}

void Alive_supervisor::alive_check()
{
    m_supervision_entity.CheckpointReached(m_supervision_entity_id, m_checkpoint_id);
}

std::unique_ptr<Alive_supervisor_interface> create_platform_alive_supervisor()
{
    auto client = std::make_shared<ara::phm::Phm_client>(Configuration_provider::get_instance_id());
    return std::make_unique<Alive_supervisor>(
        client, Configuration_provider::get_supervision_entity_id(), Configuration_provider::get_checkpoint_id());
}

Alive_check::Alive_check(asio::io_context& io_service,
                         std::uint64_t& request_counter,
                         Alive_supervisor_factory factory,
                         Alive_timing timing)
    : m_timer(io_service)
    , m_request_counter(request_counter)
    , m_factory(std::move(factory))
    , m_timing(timing)
{
    create_supervisor();
}

void Alive_check::start()
{
    arm(m_timing.first_tick);
}

void Alive_check::create_supervisor()
{
    auto supervisor = m_factory();
    m_supervisor = std::move(supervisor);
    iam_logger().LogDebug() << "alive_check: create_phm_client";
}

void Alive_check::arm(std::chrono::milliseconds delay)
{
    using Clock = asio::steady_timer::clock_type;
    const auto now = Clock::now();
    const auto expiry = (Clock::time_point::max() - now > delay) ? now + delay : Clock::time_point::max();
    m_timer.expires_at(expiry);
    m_timer.async_wait([this](const std::error_code& error) { tick(error); });
}

void Alive_check::tick(const std::error_code& error)
{
    if (error)
    {
        // cancelled: the loop is ending
        return;
    }
    bool reported = false;
    try
    {
        if (!m_supervisor)
        {
            create_supervisor();
        }
        m_supervisor->alive_check();
        reported = true;
    }
    catch (const std::exception& exception)
    {
        iam_logger().LogError() << "alive_check: exception: " << exception.what();
    }
    catch (...)
    {
        iam_logger().LogError() << "alive_check: unknown exception";
    }
    if (!reported)
    {
        m_supervisor.reset();
    }

    try
    {
        if (reported && m_request_counter != 0)
        {
            m_total += m_request_counter;
            iam_logger().LogDebug() << "alive_check: " << m_total << " request handled";
            m_request_counter = 0;
        }
        arm(m_timing.period);
    }
    catch (const std::exception& exception)
    {
        iam_logger().LogError() << "Alive_check(): exception: " << exception.what();
    }
    catch (...)
    {
        iam_logger().LogError() << "Alive_check(): unknown exception";
    }
}

} // namespace vela::iam
