#pragma once

#include "ara/log/common.h"
#include "ara/log/sink.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace ara::log::testing
{

/// One captured message.
struct Captured_message
{
    LogLevel level;
    std::string context_id;
    std::string text;
    std::vector<Log_piece> pieces;
};

/// In-memory record of every emitted message while the object exists. Install one in a test
/// (as a member of the fixture), act, then assert on texts and levels. Thread-safe.
class Log_capture final : public Log_sink
{
  public:
    Log_capture();
    ~Log_capture() override;

    Log_capture(const Log_capture&) = delete;
    Log_capture& operator=(const Log_capture&) = delete;

    std::vector<Captured_message> messages() const;
    /// Texts only, in emission order; optionally only those of one level or context.
    std::vector<std::string> texts() const;
    std::vector<std::string> texts(LogLevel level) const;
    std::vector<std::string> texts_of_context(const std::string& context_id) const;

    /// How many messages have exactly this text (and, if given, this level).
    std::size_t count(const std::string& text) const;
    std::size_t count(const std::string& text, LogLevel level) const;
    bool contains(const std::string& text) const { return count(text) != 0; }
    /// True when some message contains this fragment.
    bool contains_fragment(const std::string& fragment) const;

    /// Waits until a message with exactly this text arrives, or the timeout passes.
    bool wait_for(const std::string& text, std::chrono::milliseconds timeout) const;

    void clear();

    void write(const std::string& app_id, const Log_message& message) noexcept override;

  private:
    // Guards m_messages: written by every logging thread, read by the test thread.
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_arrived;
    std::vector<Captured_message> m_messages;
};

} // namespace ara::log::testing
