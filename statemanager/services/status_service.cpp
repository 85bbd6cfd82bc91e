#include "statemanager/services/status_service.hpp"

#include <utility>

namespace vela::ap::statemanager::services
{

Status_service::Status_service(std::shared_ptr<const status::Status_source_interface> source)
    : StateManagementStatusInterfaceSkeleton(StateManagementStatusInterface::instance())
    , m_source(std::move(source))
{
    State.Update(m_source->current_state());
}

Status_service::~Status_service()
{
    // No call may reach the source once this object starts to go.
    StopOfferService();
}

vela::com::Future<status::Holders_reply> Status_service::GetHolders()
{
    vela::com::Promise<status::Holders_reply> promise;
    promise.set_value(m_source->holders());
    return promise.get_future();
}

vela::com::Future<std::vector<status::Transition_report>> Status_service::GetHistory()
{
    vela::com::Promise<std::vector<status::Transition_report>> promise;
    promise.set_value(m_source->history());
    return promise.get_future();
}

void Status_service::publish(const status::State_value& state, const status::Transition_report& report)
{
    State.Update(state);
    TransitionReport.Send(report);
}

} // namespace vela::ap::statemanager::services
