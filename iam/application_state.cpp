#include "iam/application_state.hpp"

#include "iam/iam_logger.hpp"

#include <exception>

namespace vela::iam
{
namespace
{

std::uint8_t value_of(ara::exec::ApplicationState state)
{
    return static_cast<std::uint8_t>(state);
}

} // namespace

Application_state::Application_state(std::unique_ptr<Application_client_abstract> client)
    : m_client(std::move(client))
{
    constexpr auto state = ara::exec::ApplicationState::kRunning;
    try
    {
        if (m_client->ReportApplicationState(state) != ara::exec::ApplicationReturnType::kSuccess)
        {
            iam_logger().LogWarn() << "Application_state:" << value_of(state) << "reported with failure";
        }
        else
        {
            iam_logger().LogDebug() << "Application_state:" << value_of(state) << "reported with success";
        }
    }
    catch (const std::exception& exception)
    {
        iam_logger().LogError() << "Application_state: " << exception.what();
        throw;
    }
    catch (...)
    {
        iam_logger().LogError() << "Application_state: unknown exception";
        throw;
    }
}

Application_state::~Application_state()
{
    constexpr auto state = ara::exec::ApplicationState::kTerminating;
    try
    {
        if (m_client->ReportApplicationState(state) != ara::exec::ApplicationReturnType::kSuccess)
        {
            iam_logger().LogWarn() << "~Application_state: " << value_of(state) << "reported with failure";
        }
        else
        {
            iam_logger().LogDebug() << "~Application_state: " << value_of(state) << "reported with success";
        }
    }
    catch (const std::exception& exception)
    {
        iam_logger().LogError() << "~Application_state: " << exception.what();
    }
    catch (...)
    {
        iam_logger().LogError() << "~Application_state: unknown exception";
    }
}

} // namespace vela::iam
