#include "tools/simulator/console_model.hpp"

#include <sstream>

namespace tarn1::simulator
{

namespace
{

constexpr std::size_t s_recent_lines = 12;
constexpr std::size_t s_words_shown = 6;

std::string joined_tail(const std::vector<std::string>& words, const char* separator)
{
    if (words.empty())
    {
        return "-";
    }
    std::string text;
    const std::size_t first = words.size() > s_words_shown ? words.size() - s_words_shown : 0;
    if (first > 0)
    {
        text = "... ";
    }
    for (std::size_t i = first; i < words.size(); ++i)
    {
        text += (i > first ? separator : "") + words[i];
    }
    return text;
}

bool starts_with(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::vector<std::string> split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;)
    {
        const auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
        {
            return parts;
        }
        start = end + separator.size();
    }
}

} // namespace

void Console_model::on_event(const Event& event)
{
    const std::string& text = event.text;
    if (event.kind == "status")
    {
        m_status_words.push_back(text);
    }
    else if (event.kind == "command")
    {
        m_commands.push_back(text);
    }
    else if (event.kind == "poweroff")
    {
        m_poweroff.push_back(text);
    }
    else if (event.kind == "nm")
    {
        if (text == "offered" || text == "withdrawn")
        {
            m_nm = text;
        }
        else if (starts_with(text, "NetworkState "))
        {
            m_network_state = text.substr(13);
        }
        else if (starts_with(text, "RequestNetwork "))
        {
            m_last_request = text.substr(15);
        }
        else if (starts_with(text, "ReleaseNetwork "))
        {
            m_last_release = text.substr(15);
        }
        else if (starts_with(text, "SetUserData "))
        {
            m_user_data = text.substr(12);
        }
    }
    else if (event.kind == "client")
    {
        // "<name> got <state>", "<name> answered <state>|error", "<name> added|removed|connected raw (..)"
        const auto blank = text.find(' ');
        const std::string name = text.substr(0, blank);
        const std::string rest = blank == std::string::npos ? "" : text.substr(blank + 1);
        if (rest == "removed")
        {
            m_clients.erase(name);
        }
        else if (starts_with(rest, "got "))
        {
            m_clients[name] = "asked " + rest.substr(4) + ", answer pending";
        }
        else if (starts_with(rest, "answered "))
        {
            m_clients[name] = rest.substr(9) == "error" ? "answered with an error" : rest.substr(9);
        }
        else
        {
            m_clients[name] = rest == "added" ? "kOn" : rest;
        }
    }
    else if (event.kind == "holders")
    {
        m_holders = text == "none" ? std::vector<std::string>{} : split(text, " | ");
    }
    else if (event.kind == "report")
    {
        m_last_report = text;
    }
    else if (event.kind == "round")
    {
        // A round comes right after the report of the change it ended.
        m_round_title = m_last_report;
        m_round = split(text, " | ");
    }
    else if (event.kind == "sim" && starts_with(text, "keyboard "))
    {
        m_keyboard = text.substr(9);
    }
    else if (event.kind == "sim" && starts_with(text, "access control of Statewarden: "))
    {
        m_access = text.substr(31);
    }
    else if (event.kind == "app" && starts_with(text, "as uid "))
    {
        m_last_foreign_app = text.substr(3);
    }
    else if (event.kind == "sim" && starts_with(text, "com "))
    {
        m_com = text.substr(4);
    }
    else if (event.kind == "sim" && starts_with(text, "log "))
    {
        m_log = text.substr(4);
    }
    else if (event.kind == "sim" && starts_with(text, "started "))
    {
        (starts_with(text, "started Statewarden") ? m_statewarden : m_iam) = "running";
    }
    else if (event.kind == "exit")
    {
        const auto blank = text.find(' ');
        (starts_with(text, "Statewarden") ? m_statewarden : m_iam) = "ended, " + text.substr(blank + 1);
    }
    if (event.kind != "log" && event.kind != "iamlog" && event.kind != "holders" && event.kind != "round")
    {
        m_recent.push_back(event.kind + " " + text);
        if (m_recent.size() > s_recent_lines)
        {
            m_recent.pop_front();
        }
    }
}

std::string Console_model::render(std::size_t width, const std::string& input) const
{
    std::ostringstream screen;
    const auto line = [&](const std::string& text)
    { screen << (text.size() > width ? text.substr(0, width) : text) << "\n"; };
    line("tarn1 simulated VM    Statewarden: " + m_statewarden + "    IAM daemon: " + m_iam);
    line(std::string(width < 80 ? width : 80, '-'));
    line("VM state       " + (m_status_words.empty() ? std::string("-") : m_status_words.back()));
    line("status words   " + joined_tail(m_status_words, " > "));
    line("restart file   " + joined_tail(m_commands, " "));
    line("power-off pipe " + joined_tail(m_poweroff, " | "));
    line("keyboard       " + m_keyboard);
    line("access control " + m_access + "; other users' apps (:as 1000 d+, :as 1001 d+): last " + m_last_foreign_app);
    line("log file       " + m_log + " (tarn1_sim_log follows it)");
    if (!m_com.empty())
    {
        line("another shell  TARN1_COM_DIR=" + m_com + " statewarden_ctl status|watch|history [--svg FILE]");
    }
    line("UDP NM         " + m_nm + ", NetworkState " + m_network_state);
    line("  requests     last RequestNetwork " + m_last_request + ", last ReleaseNetwork " + m_last_release);
    line("  user data    " + m_user_data);
    if (m_clients.empty())
    {
        line("clients        none (client add diag::dcm)");
    }
    for (auto client = m_clients.begin(); client != m_clients.end(); ++client)
    {
        line((client == m_clients.begin() ? "clients        " : "               ") + client->first + ": " +
             client->second);
    }
    if (m_holders.empty())
    {
        line("holders        none: no application keeps the machine awake");
    }
    for (std::size_t index = 0; index < m_holders.size(); ++index)
    {
        line((index == 0 ? "holders        " : "               ") + m_holders[index]);
    }
    line("last round     " + (m_round_title.empty() ? std::string("-") : m_round_title));
    for (const auto& client : m_round)
    {
        line("               " + client);
    }
    line(std::string(width < 80 ? width : 80, '-'));
    for (const auto& event : m_recent)
    {
        line("  " + event);
    }
    line(std::string(width < 80 ? width : 80, '-'));
    line("keys: n s p r = hypervisor N S P R, o = power key, a/w = network asleep/active, : command, h help, q quit");
    line("short forms after ':'  e+ e- ecualive, c+ c- comalive, w+ w- cwu, d+ dsa, cl+ cl- client, k press (h: all)");
    screen << (input.empty() ? "" : ":" + input);
    return screen.str();
}

} // namespace tarn1::simulator
