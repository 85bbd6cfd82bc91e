#include "tools/simulator/journal.hpp"

namespace tarn1::simulator
{

void Journal::set_listener(Listener listener)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_listener = std::move(listener);
}

void Journal::add(const std::string& kind, const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events.push_back(Event{std::chrono::steady_clock::now(), kind, text});
    if (m_listener)
    {
        m_listener(m_events.back());
    }
    m_added.notify_all();
}

std::optional<std::size_t> Journal::find_locked(const std::string& kind, const std::string& needle) const
{
    const auto cursor = m_cursors.find(kind);
    for (std::size_t i = cursor == m_cursors.end() ? 0 : cursor->second; i < m_events.size(); ++i)
    {
        if (m_events[i].kind == kind && m_events[i].text.find(needle) != std::string::npos)
        {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<std::string>
Journal::expect(const std::string& kind, const std::string& needle, std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    std::optional<std::size_t> found;
    m_added.wait_until(lock, deadline, [&] { return (found = find_locked(kind, needle)).has_value(); });
    if (!found)
    {
        return std::nullopt;
    }
    m_cursors[kind] = *found + 1;
    return m_events[*found].text;
}

bool Journal::expect_none(const std::string& kind,
                          const std::string& needle,
                          std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_added.wait_until(lock, deadline, [&] { return find_locked(kind, needle).has_value(); });
}

bool Journal::seen_locked(const std::string& kind, const std::string& needle) const
{
    for (const auto& event : m_events)
    {
        if (event.kind == kind && event.text.find(needle) != std::string::npos)
        {
            return true;
        }
    }
    return false;
}

bool Journal::seen(const std::string& kind, const std::string& needle) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return seen_locked(kind, needle);
}

bool Journal::wait_seen(const std::string& kind,
                        const std::string& needle,
                        std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_added.wait_until(lock, deadline, [&] { return seen_locked(kind, needle); });
}

std::optional<std::string> Journal::latest(const std::string& kind) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto event = m_events.rbegin(); event != m_events.rend(); ++event)
    {
        if (event->kind == kind)
        {
            return event->text;
        }
    }
    return std::nullopt;
}

std::vector<Event> Journal::tail(std::size_t count) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::size_t first = m_events.size() > count ? m_events.size() - count : 0;
    return {m_events.begin() + static_cast<std::ptrdiff_t>(first), m_events.end()};
}

} // namespace tarn1::simulator
