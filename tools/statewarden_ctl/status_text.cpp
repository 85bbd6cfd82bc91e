#include "tools/statewarden_ctl/status_text.hpp"

#include "tools/statewarden_ctl/status_json.hpp"

#include <algorithm>
#include <ctime>
#include <iomanip>
#include <sstream>

namespace tarn1::statewarden_ctl
{

namespace
{

std::string padded(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text + " " : text + std::string(width - text.size(), ' ');
}

std::string request_text(const status::Holder& holder)
{
    switch (holder.kind)
    {
    case status::Holder_kind::com_alive:
        return "CAB " + hex(holder.cab_bits) + " AC " + std::to_string(holder.ac);
    case status::Holder_kind::cwu:
        return "AC " + std::to_string(holder.ac);
    case status::Holder_kind::ecu_alive:
        break;
    }
    return "-";
}

std::string client_text(const status::Client_row& row)
{
    std::string text = row.name + " (" + status::group_text(row.group) + ") " + status::answer_text(row) + " " +
                       std::to_string(row.latency_ms) + " ms";
    if (row.late)
    {
        text += ", answered " + row.answered_state + " late at " + std::to_string(row.late_ms) + " ms";
    }
    return text;
}

const status::Client_row* slowest(const status::Transition_report& report)
{
    const auto found = std::max_element(report.clients.begin(),
                                        report.clients.end(),
                                        [](const status::Client_row& lhs, const status::Client_row& rhs)
                                        { return lhs.latency_ms < rhs.latency_ms; });
    return found == report.clients.end() ? nullptr : &*found;
}

} // namespace

std::string clock_text(std::uint64_t wall_ms)
{
    const auto seconds = static_cast<std::time_t>(wall_ms / 1000);
    std::tm local{};
    localtime_r(&seconds, &local);
    std::ostringstream text;
    text << std::put_time(&local, "%H:%M:%S") << "." << std::setw(3) << std::setfill('0') << wall_ms % 1000;
    return text.str();
}

std::string duration_text(std::uint64_t ms)
{
    if (ms < 1000)
    {
        return std::to_string(ms) + " ms";
    }
    if (ms < 60000)
    {
        std::ostringstream text;
        text << std::fixed << std::setprecision(1) << static_cast<double>(ms) / 1000.0 << " s";
        return text.str();
    }
    const std::uint64_t seconds = ms / 1000;
    if (seconds < 3600)
    {
        return std::to_string(seconds / 60) + " min " + std::to_string(seconds % 60) + " s";
    }
    return std::to_string(seconds / 3600) + " h " + std::to_string(seconds % 3600 / 60) + " min";
}

std::vector<std::string> holder_lines(const status::Holders_reply& reply)
{
    std::vector<std::string> lines;
    for (const auto& holder : reply.holders)
    {
        const std::uint64_t held = reply.now_ms >= holder.since_ms ? reply.now_ms - holder.since_ms : 0;
        lines.push_back(padded(status::kind_text(holder.kind), 10) + padded(holder.instance, 26) +
                        padded(request_text(holder), 20) + "since " + clock_text(holder.since_wall_ms) + ", " +
                        duration_text(held));
    }
    return lines;
}

std::vector<std::string> client_lines(const status::Transition_report& report)
{
    std::vector<std::string> lines;
    for (const auto& row : report.clients)
    {
        lines.push_back(client_text(row));
    }
    if (report.clients_omitted > 0)
    {
        lines.push_back("... and " + std::to_string(report.clients_omitted) + " more");
    }
    return lines;
}

std::string status_text(const status::Holders_reply& reply)
{
    std::ostringstream text;
    text << "State      " << status::status_word(reply.state) << "\n";
    if (reply.holders.empty())
    {
        text << "Holders    none: no application keeps the machine awake\n";
    }
    else
    {
        text << "Holders    " << reply.holders.size() << " request(s) keep the machine awake\n";
        text << "  " << padded("KIND", 10) << padded("INSTANCE", 26) << padded("REQUEST", 20) << "SINCE\n";
        for (const auto& line : holder_lines(reply))
        {
            text << "  " << line << "\n";
        }
        if (reply.holders_omitted > 0)
        {
            text << "  ... and " << reply.holders_omitted << " more\n";
        }
    }
    const auto& nm = reply.nm;
    if (!nm.used)
    {
        text << "NM         not used\n";
    }
    else
    {
        text << "NM         " << (nm.found ? "found" : "not found yet") << ", "
             << (nm.sending ? "messages sent" : "messages stopped (standby)") << "; NetworkState "
             << (nm.network_state_size == 0 ? std::string("-") : hex(nm.network_state))
             << (nm.network_state_size > nm.network_state.size()
                     ? " ... (" + std::to_string(nm.network_state_size) + " bytes)"
                     : std::string())
             << ", ECU " << status::ecu_state_text(nm.ecu_state) << "\n";
        const auto shown = [](const std::vector<std::uint8_t>& bytes)
        { return bytes.empty() ? std::string("-") : hex(bytes); };
        text << "           user data " << shown(nm.user_data) << ", last RequestNetwork " << shown(nm.last_requested)
             << ", last ReleaseNetwork " << shown(nm.last_released) << "\n";
    }
    text << "Knock-out  " << reply.knockout_left << " of " << reply.knockout_initial << " cycles left"
         << (reply.state == 3 ? "" : " (counts in Post Run)") << "\n";
    return text.str();
}

std::string watch_line(const status::Transition_report& report)
{
    std::string line = clock_text(report.at_wall_ms) + " " + status::status_word(report.from) + " > " +
                       status::status_word(report.to) + " (" + report.cause + ") " + duration_text(report.duration_ms);
    if (const auto* row = slowest(report))
    {
        line += "; slowest " + client_text(*row);
    }
    return line;
}

std::string history_text(const std::vector<status::Transition_report>& reports)
{
    std::ostringstream text;
    if (reports.empty())
    {
        text << "No state change yet.\n";
        return text.str();
    }
    text << padded("#", 5) << padded("TIME", 14) << padded("FROM", 16) << padded("TO", 16) << padded("CAUSE", 32)
         << padded("TOOK", 10) << "SLOWEST CLIENT\n";
    for (const auto& report : reports)
    {
        const auto* row = slowest(report);
        text << padded(std::to_string(report.serial), 5) << padded(clock_text(report.at_wall_ms), 14)
             << padded(status::status_word(report.from), 16) << padded(status::status_word(report.to), 16)
             << padded(report.cause, 32) << padded(duration_text(report.duration_ms), 10)
             << (row != nullptr ? client_text(*row) : "-") << "\n";
        for (const auto& step : report.steps)
        {
            text << "       " << padded(status::group_text(step.group), 5) << padded(step.state, 9)
                 << (step.status == 0   ? "success"
                     : step.status == 1 ? "timeout"
                                        : "error")
                 << " after " << duration_text(step.total_ms) << ", " << step.clients << " client(s)\n";
        }
        for (const auto& line : client_lines(report))
        {
            text << "         " << line << "\n";
        }
    }
    return text.str();
}

} // namespace tarn1::statewarden_ctl
