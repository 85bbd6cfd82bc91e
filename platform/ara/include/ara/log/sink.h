#pragma once

#include "ara/log/common.h"
#include "ara/log/log_stream.h"

#include <chrono>
#include <string>
#include <vector>

namespace ara::log
{

/// A finished message as sinks receive it. Only valid during the call to Log_sink::write.
struct Log_message
{
    std::chrono::system_clock::time_point time;
    LogLevel level;
    const Logger* logger;
    const std::string& text;
    const std::vector<Log_piece>& pieces;
};

/// Where finished messages go. write() is called with the runtime's emit lock held, so one
/// sink never sees two messages at once and never needs a lock of its own for ordering.
class Log_sink
{
  public:
    virtual ~Log_sink() = default;
    virtual void write(const std::string& app_id, const Log_message& message) noexcept = 0;
};

/// Adds or removes an extra sink (the in-memory capture of the tests uses this).
void add_sink(Log_sink* sink);
void remove_sink(Log_sink* sink) noexcept;

} // namespace ara::log
