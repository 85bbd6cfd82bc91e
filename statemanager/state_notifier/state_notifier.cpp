#include "statemanager/state_notifier/state_notifier.hpp"

#include "ara/log/logging.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <utility>

namespace vela::ap::statemanager::state_notifier
{

using client_state_notifier::Callback_status;
using client_state_notifier::Client_status;
using client_state_notifier::Component_client_return_type;
using client_state_notifier::Result_map;

namespace
{

bool is_application(const std::string& name)
{
    return name != State_notifier::s_dem_name && name != State_notifier::s_dcm_name;
}

bool is_dem(const std::string& name)
{
    return name == State_notifier::s_dem_name;
}

bool is_dcm(const std::string& name)
{
    return name == State_notifier::s_dcm_name;
}

/// What differs between the three groups, in the order of State_notifier::Group (DCM,
/// applications, DEM).
struct Group_step
{
    /// Follows "Requesting <state>" when the step is issued.
    const char* mode_text;
    /// Precedes "<state>. Status: <n>" when the step completes.
    const char* received_text;
    bool (*filter)(const std::string&);
    status::Client_group recorded_as;
    /// The applications: clients connecting during the step are expected in its state, and the
    /// application timeout applies instead of the diagnostic managers' one.
    bool applications;
};

constexpr Group_step s_group_steps[] = {
    {" mode for DCM", "Received DCM client completion notification for ", is_dcm, status::Client_group::dcm, false},
    {" mode for client applications",
     "Received application client completion notification for ",
     is_application,
     status::Client_group::apps,
     true},
    {" mode for DEM", "Received DEM client completion notification for ", is_dem, status::Client_group::dem, false},
};

/// Learns from the server how each client of one step answered. The record arrives on the server
/// thread right before the step's completion callback, which takes it on the same thread; late
/// answers go straight to the recorder.
class Step_observer final : public client_state_notifier::Request_observer
{
  public:
    Step_observer(std::uint64_t serial, std::shared_ptr<status::Round_recorder_interface> recorder)
        : m_serial(serial)
        , m_recorder(std::move(recorder))
    {
    }

    void request_completed(const client_state_notifier::Request_record& record) override { m_record = record; }

    void late_answer(const client_state_notifier::Client_record& record) override
    {
        m_recorder->late_answer(m_serial,
                                record.name,
                                static_cast<std::uint8_t>(record.code),
                                record.state,
                                static_cast<std::uint32_t>(record.latency.count()));
    }

    /// The record of the completed step; server thread, in the completion callback.
    const client_state_notifier::Request_record* record() const { return m_record ? &*m_record : nullptr; }

  private:
    const std::uint64_t m_serial;
    const std::shared_ptr<status::Round_recorder_interface> m_recorder;
    // Server thread only: written by request_completed, read by the completion callback after it.
    std::optional<client_state_notifier::Request_record> m_record;
};

status::Client_row row_of(const client_state_notifier::Client_record& client)
{
    status::Client_row row;
    row.name = client.name;
    row.answered_state = client.state;
    row.code = static_cast<std::uint8_t>(client.code);
    row.latency_ms = static_cast<std::uint32_t>(std::max<std::int64_t>(0, client.latency.count()));
    switch (client.outcome)
    {
    case client_state_notifier::Client_outcome::answered:
        row.answer = client.code == Component_client_return_type::success ? status::Client_answer::state
                                                                          : status::Client_answer::error;
        break;
    case client_state_notifier::Client_outcome::timed_out:
        row.answer = status::Client_answer::timeout;
        break;
    case client_state_notifier::Client_outcome::dropped:
        row.answer = status::Client_answer::dropped;
        break;
    }
    return row;
}

} // namespace

const State_notifier::Sequence State_notifier::s_standby{s_standby_state,
                                                         {Group::dcm, Group::applications, Group::dem}};
const State_notifier::Sequence State_notifier::s_resume{s_resume_state, {Group::dem, Group::applications, Group::dcm}};

Client_states_factory default_client_states_factory()
{
    return client_states_factory_for(utilities::get_socket_path());
}

Client_states_factory client_states_factory_for(const std::string& socket_path)
{
    return [socket_path](const std::string& default_state, client_state_notifier::Client_status_callback callback)
    {
        client_state_notifier::Server_options options;
        options.socket_path = socket_path;
        return client_state_notifier::create_client_states(default_state, std::move(callback), options);
    };
}

State_notifier::State_notifier(std::chrono::seconds app_timeout,
                               std::chrono::seconds dm_timeout,
                               const Client_states_factory& client_states_factory,
                               const utilities::Log_limits& log_limits,
                               std::shared_ptr<status::Round_recorder_interface> recorder)
    : m_app_timeout(app_timeout)
    , m_dm_timeout(dm_timeout)
    , m_duplicate_name_log(log_limits)
    , m_unexpected_state_log(log_limits)
    , m_recorder(std::move(recorder))
{
    try
    {
        m_client_states =
            client_states_factory(s_resume_state,
                                  [this](const std::string& name, Client_status status, const std::string& state)
                                  { log_client_status(name, status, state); });
    }
    catch (const std::exception& error)
    {
        ara::log::LogError() << "State notification server could not be created: " << error.what();
    }
    if (!m_client_states)
    {
        ara::log::LogError() << "No state notification server: standby and resume steps end with error at once";
    }
}

State_notifier::~State_notifier()
{
    // The server's thread calls back into this object; joining it first keeps every callback
    // from outliving the members it touches. Not under m_mutex: a callback may be waiting for it.
    m_client_states.reset();
}

void State_notifier::request_standby()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    ara::log::LogInfo() << "Starting standby sequence";
    m_target = &s_standby;
    m_sequence_active = true;
    notify(s_standby.order.front());
}

void State_notifier::request_resume()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    ara::log::LogInfo() << "Starting resume sequence";
    m_target = &s_resume;
    // A running sequence picks the new target up as its steps complete.
    if (!m_sequence_active)
    {
        m_sequence_active = true;
        notify(s_resume.order.front());
    }
}

bool State_notifier::check_request_status()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_sequence_active)
    {
        return false;
    }
    // The applications first, then the diagnostic managers (the DCM before the DEM). A step
    // issued here clears every completion that waits, so at most one step goes out per call.
    advance(Group::applications);
    if (!advance(Group::dcm) && !advance(Group::dem))
    {
        ara::log::LogVerbose() << "check_dm_request_status else";
    }
    return m_sequence_active;
}

Result_map State_notifier::get_app_clients_status() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return progress_of(Group::applications).results;
}

Result_map State_notifier::get_dem_clients_status() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return progress_of(Group::dem).results;
}

Result_map State_notifier::get_dcm_clients_status() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return progress_of(Group::dcm).results;
}

void State_notifier::notify(Group group)
{
    static_assert(std::size(s_group_steps) == s_group_count, "one row per group");
    const Group_step& step = s_group_steps[static_cast<std::size_t>(group)];
    const char* const target_state = m_target->state;
    ara::log::LogInfo() << "Requesting " << target_state << step.mode_text;

    progress_of(group).requested = m_target;
    // The new step supersedes whatever was outstanding, so a completion not yet acted on
    // belongs to an abandoned step and must not steer this one.
    for (Group_progress& progress : m_groups)
    {
        progress.done = false;
    }
    const std::uint64_t serial = ++m_serial;

    const auto observer = m_recorder ? std::make_shared<Step_observer>(serial, m_recorder) : nullptr;
    client_state_notifier::Completion_callback callback =
        [this, group, serial, observer](Callback_status status, const Result_map& results)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        complete(group, serial, status, results, observer ? observer->record() : nullptr);
    };
    try
    {
        if (!m_client_states)
        {
            throw std::runtime_error("no state notification server");
        }
        if (step.applications)
        {
            // Clients connecting from now on are expected in the target state and are told at once.
            m_client_states->set_default_state(target_state);
        }
        client_state_notifier::Filter filter = step.filter;
        const std::chrono::seconds timeout = step.applications ? m_app_timeout : m_dm_timeout;
        if (observer)
        {
            m_client_states->request_state_change_observed(
                target_state, std::move(filter), std::move(callback), timeout, observer);
        }
        else
        {
            m_client_states->request_state_change(target_state, std::move(filter), std::move(callback), timeout);
        }
    }
    catch (const std::exception& error)
    {
        // Nothing was handed over, so no callback will come: the step ends here, as one whose
        // clients all failed, and the sequence goes on at the next check.
        ara::log::LogError() << "Requesting " << target_state << step.mode_text
                             << " failed, the step ends with error: " << error.what();
        complete(group, serial, Callback_status::error, Result_map{}, nullptr);
    }
}

bool State_notifier::advance(Group group)
{
    Group_progress& progress = progress_of(group);
    if (!progress.done)
    {
        return false;
    }
    progress.done = false;
    if (progress.requested != m_target)
    {
        // The target changed while the step ran: the same group is asked again.
        notify(group);
        return true;
    }
    const auto& order = m_target->order;
    const auto position = std::find(order.begin(), order.end(), group);
    // After the last group of the order the sequence has ended (see complete()).
    if (position != order.end() && position + 1 != order.end())
    {
        notify(*(position + 1));
    }
    return true;
}

void State_notifier::complete(Group group,
                              std::uint64_t serial,
                              Callback_status status,
                              const Result_map& results,
                              const client_state_notifier::Request_record* record)
{
    if (serial != m_serial)
    {
        // A later step has been issued since; this answer no longer steers the sequence.
        ara::log::LogDebug() << "Ignoring completion of a superseded state notification step";
        return;
    }
    ara::log::LogInfo() << s_group_steps[static_cast<std::size_t>(group)].received_text << m_target->state
                        << ". Status: " << static_cast<std::uint32_t>(status);
    Group_progress& progress = progress_of(group);
    progress.results = results;
    log_clients(results);
    progress.done = true;
    record_step(group, serial, status, record);

    // A sequence ends with the last step of its order, and only while that is still the target:
    // when resume was asked during the DEM step of a standby, the DEM is asked again with "kOn"
    // and the resume order runs on, instead of leaving every client in standby.
    if (group == m_target->order.back() && progress.requested == m_target)
    {
        m_sequence_active = false;
    }
}

void State_notifier::record_step(Group group,
                                 std::uint64_t serial,
                                 Callback_status status,
                                 const client_state_notifier::Request_record* record) const
{
    if (!m_recorder)
    {
        return;
    }
    status::Step_record step;
    step.serial = serial;
    step.group = s_group_steps[static_cast<std::size_t>(group)].recorded_as;
    step.status = static_cast<std::uint8_t>(status);
    const auto now = std::chrono::steady_clock::now();
    step.requested = record != nullptr ? record->requested : now;
    step.completed = record != nullptr ? record->completed : now;
    step.state = progress_of(group).requested->state;
    if (record != nullptr)
    {
        step.clients.reserve(record->clients.size());
        for (const auto& client : record->clients)
        {
            step.clients.push_back(row_of(client));
        }
    }
    m_recorder->step_completed(step);
}

void State_notifier::log_client_status(const std::string& name, Client_status status, const std::string& state)
{
    // A client can repeat these as fast as it can send: bounded per client name and in all.
    auto& limiter = (status == Client_status::name_already_connected) ? m_duplicate_name_log : m_unexpected_state_log;
    const auto verdict = limiter.check(std::hash<std::string>{}(name));
    if (verdict.pass)
    {
        ara::log::LogError() << "Client " << utilities::log_text(name) << " errorneously reported state change to "
                             << utilities::log_text(state) << ". Client status: " << static_cast<std::uint32_t>(status)
                             << verdict;
    }
}

void State_notifier::log_clients(const Result_map& results)
{
    for (const auto& [name, code] : results)
    {
        switch (code)
        {
        case Component_client_return_type::success:
            ara::log::LogInfo() << "State notification client [" << name << "] succeeded";
            break;
        case Component_client_return_type::general_error:
            ara::log::LogError() << "State notification client [" << name << "] general error";
            break;
        case Component_client_return_type::invalid:
            ara::log::LogError() << "State notification client [" << name << "] invalid";
            break;
        case Component_client_return_type::timed_out:
            ara::log::LogWarn() << "State notification client [" << name << "] timed out";
            break;
        default:
            break;
        }
    }
}

} // namespace vela::ap::statemanager::state_notifier
