#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tarn1::simulator
{

/// One thing the simulator saw: a log line of Statewarden ("log") or of the IAM daemon ("iamlog"), a status word, a
/// network request, an answer of a notification client... `kind` names the source ("log", "iamlog", "status",
/// "command", "nm", "client", "app", "iam", "poweroff", "exit", "sim"), `text` what happened.
struct Event
{
    std::chrono::steady_clock::time_point time;
    std::string kind;
    std::string text;
};

/// The one record of a simulation run, in arrival order. Every thread of the simulator adds to it;
/// the scenario runner waits on it. Each kind has a cursor: an expectation matches only events
/// after the one the previous expectation of that kind matched, so a sequence of expectations
/// also checks the order.
class Journal final
{
  public:
    using Listener = std::function<void(const Event&)>;

    /// The listener sees every event as it is added (under the journal's lock: keep it short).
    void set_listener(Listener listener);
    /// Any thread.
    void add(const std::string& kind, const std::string& text);
    /// Waits until an event of kind whose text contains needle arrives after the kind's cursor,
    /// at most until deadline; on a match moves the cursor past it and returns its text.
    std::optional<std::string>
    expect(const std::string& kind, const std::string& needle, std::chrono::steady_clock::time_point deadline);
    /// True when no such event arrives after the cursor until deadline (the cursor stays).
    bool
    expect_none(const std::string& kind, const std::string& needle, std::chrono::steady_clock::time_point deadline);
    /// Whether an event of kind containing needle has arrived at any time (cursors ignored).
    bool seen(const std::string& kind, const std::string& needle) const;
    /// Waits until seen() holds, at most until deadline; the cursor stays.
    bool wait_seen(const std::string& kind, const std::string& needle, std::chrono::steady_clock::time_point deadline);
    /// The text of the newest event of kind, if any.
    std::optional<std::string> latest(const std::string& kind) const;
    /// The last count events, oldest first.
    std::vector<Event> tail(std::size_t count) const;

  private:
    std::optional<std::size_t> find_locked(const std::string& kind, const std::string& needle) const;
    bool seen_locked(const std::string& kind, const std::string& needle) const;

    // Guards everything below; met by every simulator thread (adders) and the scenario runner.
    mutable std::mutex m_mutex;
    std::condition_variable m_added;
    std::vector<Event> m_events;
    std::map<std::string, std::size_t> m_cursors;
    Listener m_listener;
};

} // namespace tarn1::simulator
