#include "statemanager/status/status_board.hpp"

#include "ara/log/logging.h"
#include "statemanager/status/transition_cause.hpp"

#include <algorithm>
#include <exception>

namespace vela::ap::statemanager::status
{

namespace
{

using Clock = std::chrono::steady_clock;

std::uint64_t steady_ms(Clock::time_point time)
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count());
}

std::uint64_t wall_ms_now()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

std::uint32_t clamp32(std::int64_t value)
{
    return static_cast<std::uint32_t>(std::clamp<std::int64_t>(value, 0, UINT32_MAX));
}

template <typename Duration> std::uint32_t ms_of(Duration duration)
{
    return clamp32(std::chrono::duration_cast<std::chrono::milliseconds>(duration).count());
}

std::vector<std::uint8_t> bounded(const std::vector<std::uint8_t>& bytes, std::size_t max_bytes)
{
    return std::vector<std::uint8_t>(bytes.begin(),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(std::min(bytes.size(), max_bytes)));
}

} // namespace

Status_board::Status_board(bool nm_used)
    : m_state_since(Clock::now())
    , m_state_since_wall_ms(wall_ms_now())
{
    m_nm.used = nm_used;
}

void Status_board::set_publisher(Status_publisher_interface* publisher)
{
    m_publisher = publisher;
}

void Status_board::holder_changed(Holder_kind kind,
                                  const std::string& instance,
                                  bool active,
                                  const std::vector<std::uint8_t>& cab_bits,
                                  std::uint8_t ac)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found =
        std::find_if(m_holders.begin(),
                     m_holders.end(),
                     [&](const Holder& holder) { return holder.kind == kind && holder.instance == instance; });
    if (!active)
    {
        if (found != m_holders.end())
        {
            m_holders.erase(found);
        }
        return;
    }
    if (found != m_holders.end())
    {
        // Still the same request: it keeps the time it began.
        found->cab_bits = bounded(cab_bits, s_max_nm_bytes);
        found->ac = ac;
        return;
    }
    if (m_holders.size() >= s_max_holders)
    {
        ++m_holders_omitted;
        return;
    }
    m_holders.push_back(
        Holder{kind, instance, bounded(cab_bits, s_max_nm_bytes), ac, steady_ms(Clock::now()), wall_ms_now()});
}

void Status_board::nm_call(Nm_call call, const std::vector<std::uint8_t>& bytes)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    switch (call)
    {
    case Nm_call::request_network:
        m_nm.last_requested = bounded(bytes, s_max_nm_bytes);
        break;
    case Nm_call::release_network:
        m_nm.last_released = bounded(bytes, s_max_nm_bytes);
        break;
    case Nm_call::set_user_data:
        m_nm.user_data = bounded(bytes, s_max_nm_bytes);
        break;
    }
}

void Status_board::network_state_received(const std::vector<std::uint8_t>& value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nm.network_state = bounded(value, s_max_nm_bytes);
    m_nm.network_state_size = clamp32(static_cast<std::int64_t>(value.size()));
}

void Status_board::ecu_state_changed(std::uint8_t state)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nm.ecu_state = state;
}

void Status_board::nm_services_found()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nm.found = true;
}

void Status_board::nm_sending_changed(bool sending)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nm.sending = sending;
}

void Status_board::transition(const Transition_facts& facts)
{
    Transition_report report;
    State_value state;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool ecu_kept = std::any_of(m_holders.begin(),
                                          m_holders.end(),
                                          [](const Holder& holder) { return holder.kind == Holder_kind::ecu_alive; });
        const Cause cause =
            cause_of(facts.from, facts.to, facts.command, Cause_context{m_nm.found, ecu_kept, m_knockout_left == 0});
        const auto entry = facts.entry_finished - facts.entry_started;
        const auto in_from = facts.entry_started - m_state_since;

        report.serial = ++m_serial;
        report.from = static_cast<std::uint8_t>(facts.from);
        report.to = static_cast<std::uint8_t>(facts.to);
        report.cause_kind = cause.kind;
        report.cause = cause.text;
        report.at_ms = steady_ms(facts.entry_started);
        report.at_wall_ms = wall_ms_now() - ms_of(Clock::now() - facts.entry_started);
        report.entry_us = clamp32(std::chrono::duration_cast<std::chrono::microseconds>(entry).count());
        report.time_in_from_ms = ms_of(in_from);
        report.duration_ms = ms_of(waits_for(facts.from, cause) ? entry + in_from : entry);
        take_steps_locked(facts.entry_started, report);

        m_state = report.to;
        m_state_since = facts.entry_started;
        m_state_since_wall_ms = report.at_wall_ms;
        m_history.push_back(report);
        if (m_history.size() > s_history_size)
        {
            m_history.pop_front();
        }
        state = state_value_locked();
    }
    ara::log::LogInfo() << summary(report);
    if (m_publisher == nullptr)
    {
        return;
    }
    try
    {
        m_publisher->publish(state, report);
    }
    catch (const std::exception& error)
    {
        // The status view never stops the state machine.
        ara::log::LogError() << "Transition report could not be published: " << error.what();
    }
}

void Status_board::knockout_changed(std::uint32_t left, std::uint32_t initial)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_knockout_left = left;
    m_knockout_initial = initial;
}

void Status_board::step_completed(const Step_record& step)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_steps.size() >= s_max_steps)
    {
        m_rows_omitted += static_cast<std::uint32_t>(step.clients.size());
        return;
    }
    const auto index = static_cast<std::uint32_t>(m_steps.size());
    m_step_requested.push_back(step.requested);
    m_steps.push_back(Step_total{step.serial,
                                 step.group,
                                 shown_text(step.state, s_max_state_bytes),
                                 step.status,
                                 steady_ms(step.requested),
                                 ms_of(step.completed - step.requested),
                                 static_cast<std::uint32_t>(step.clients.size())});
    for (const auto& client : step.clients)
    {
        if (m_rows.size() >= s_max_rows)
        {
            ++m_rows_omitted;
            continue;
        }
        Client_row row = client;
        row.step = index;
        row.group = step.group;
        row.name = shown_text(client.name, s_max_name_bytes);
        row.answered_state = shown_text(client.answered_state, s_max_state_bytes);
        m_rows.push_back(std::move(row));
    }
}

void Status_board::take_steps_locked(Clock::time_point since, Transition_report& report)
{
    // A step that completes at once (no client of its group) may be recorded before the change
    // that asked for it: it belongs to the new state, not to the one that was left.
    std::vector<Step_total> kept_steps;
    std::vector<Clock::time_point> kept_requested;
    std::vector<std::uint32_t> new_index(m_steps.size());
    std::vector<bool> stays(m_steps.size());
    for (std::size_t index = 0; index < m_steps.size(); ++index)
    {
        stays[index] = m_step_requested[index] >= since;
        auto& target = stays[index] ? kept_steps : report.steps;
        new_index[index] = static_cast<std::uint32_t>(target.size());
        target.push_back(m_steps[index]);
        if (stays[index])
        {
            kept_requested.push_back(m_step_requested[index]);
        }
    }
    std::vector<Client_row> kept_rows;
    for (auto& row : m_rows)
    {
        const bool stay = stays[row.step];
        row.step = new_index[row.step];
        (stay ? kept_rows : report.clients).push_back(std::move(row));
    }
    report.clients_omitted = m_rows_omitted;
    m_rows_omitted = 0;
    m_steps = std::move(kept_steps);
    m_step_requested = std::move(kept_requested);
    m_rows = std::move(kept_rows);
}

void Status_board::late_answer(std::uint64_t serial,
                               const std::string& name,
                               std::uint8_t code,
                               const std::string& state,
                               std::uint32_t latency_ms)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Client_row* row = find_row(serial, shown_text(name, s_max_name_bytes));
    if (row == nullptr || row->answer != Client_answer::timeout || row->late)
    {
        return;
    }
    row->late = true;
    row->late_ms = latency_ms;
    row->code = code;
    row->answered_state = shown_text(state, s_max_state_bytes);
}

Client_row* Status_board::find_row(std::uint64_t serial, const std::string& name)
{
    const auto in = [&](std::vector<Step_total>& steps, std::vector<Client_row>& rows) -> Client_row*
    {
        for (std::size_t index = 0; index < steps.size(); ++index)
        {
            if (steps[index].serial != serial)
            {
                continue;
            }
            for (auto& row : rows)
            {
                if (row.step == index && row.name == name)
                {
                    return &row;
                }
            }
        }
        return nullptr;
    };
    if (Client_row* row = in(m_steps, m_rows))
    {
        return row;
    }
    for (auto report = m_history.rbegin(); report != m_history.rend(); ++report)
    {
        if (Client_row* row = in(report->steps, report->clients))
        {
            return row;
        }
    }
    return nullptr;
}

State_value Status_board::current_state() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return state_value_locked();
}

State_value Status_board::state_value_locked() const
{
    return State_value{m_state, status_word(m_state), steady_ms(m_state_since), m_state_since_wall_ms};
}

Holders_reply Status_board::holders() const
{
    Holders_reply reply;
    std::lock_guard<std::mutex> lock(m_mutex);
    reply.state = m_state;
    reply.now_ms = steady_ms(Clock::now());
    reply.now_wall_ms = wall_ms_now();
    reply.holders = m_holders;
    reply.holders_omitted = m_holders_omitted;
    reply.nm = m_nm;
    reply.knockout_left = m_knockout_left;
    reply.knockout_initial = m_knockout_initial;
    return reply;
}

std::vector<Transition_report> Status_board::history() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::vector<Transition_report>(m_history.begin(), m_history.end());
}

std::string Status_board::summary(const Transition_report& report)
{
    std::string text = std::string("Transition report: from=") + status_word(report.from) +
                       " to=" + status_word(report.to) + " cause=\"" + report.cause +
                       "\" total_ms=" + std::to_string(report.duration_ms) + " slowest=";
    const auto slowest =
        std::max_element(report.clients.begin(),
                         report.clients.end(),
                         [](const Client_row& lhs, const Client_row& rhs) { return lhs.latency_ms < rhs.latency_ms; });
    if (slowest == report.clients.end())
    {
        return text + "-";
    }
    return text + "\"" + slowest->name + " (" + group_text(slowest->group) + ") " + answer_text(*slowest) + " " +
           std::to_string(slowest->latency_ms) + " ms\"";
}

std::string Status_board::shown_text(const std::string& text, std::size_t max_bytes)
{
    static const char s_hex[] = "0123456789abcdef";
    std::string result;
    result.reserve(std::min(text.size(), max_bytes) + 3);
    for (const char character : text)
    {
        const auto byte = static_cast<unsigned char>(character);
        const bool plain = byte >= 0x20 && byte < 0x7F && byte != '\\' && byte != '"';
        if (result.size() + (plain ? 1 : 4) > max_bytes)
        {
            return result + "...";
        }
        if (plain)
        {
            result += static_cast<char>(byte);
            continue;
        }
        result += "\\x";
        result += s_hex[byte >> 4U];
        result += s_hex[byte & 0x0FU];
    }
    return result;
}

} // namespace vela::ap::statemanager::status
