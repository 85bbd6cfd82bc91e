#include "ara/log/testing/log_capture.h"

#include "ara/log/logger.h"

#include <algorithm>

namespace ara::log::testing
{

Log_capture::Log_capture()
{
    add_sink(this);
}

Log_capture::~Log_capture()
{
    remove_sink(this);
}

void Log_capture::write(const std::string&, const Log_message& message) noexcept
{
    try
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_messages.push_back(
            Captured_message{message.level, message.logger->context_id(), message.text, message.pieces});
    }
    catch (...)
    {
        return;
    }
    m_arrived.notify_all();
}

std::vector<Captured_message> Log_capture::messages() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::vector<std::string> Log_capture::texts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> result;
    for (const auto& message : m_messages)
    {
        result.push_back(message.text);
    }
    return result;
}

std::vector<std::string> Log_capture::texts(LogLevel level) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> result;
    for (const auto& message : m_messages)
    {
        if (message.level == level)
        {
            result.push_back(message.text);
        }
    }
    return result;
}

std::vector<std::string> Log_capture::texts_of_context(const std::string& context_id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> result;
    for (const auto& message : m_messages)
    {
        if (message.context_id == context_id)
        {
            result.push_back(message.text);
        }
    }
    return result;
}

std::size_t Log_capture::count(const std::string& text) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<std::size_t>(
        std::count_if(m_messages.begin(), m_messages.end(), [&](const auto& message) { return message.text == text; }));
}

std::size_t Log_capture::count(const std::string& text, LogLevel level) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<std::size_t>(std::count_if(m_messages.begin(),
                                                  m_messages.end(),
                                                  [&](const auto& message)
                                                  { return message.text == text && message.level == level; }));
}

bool Log_capture::contains_fragment(const std::string& fragment) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::any_of(m_messages.begin(),
                       m_messages.end(),
                       [&](const auto& message) { return message.text.find(fragment) != std::string::npos; });
}

bool Log_capture::wait_for(const std::string& text, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_arrived.wait_for(lock,
                              timeout,
                              [&]
                              {
                                  return std::any_of(m_messages.begin(),
                                                     m_messages.end(),
                                                     [&](const auto& message) { return message.text == text; });
                              });
}

void Log_capture::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_messages.clear();
}

} // namespace ara::log::testing
