#pragma once

#include <exception>

namespace kest::com::internal
{

/// Logs at error level that a callback ended with an exception (error is null for one of unknown
/// type); held back when such failures come faster than a few per second. Any thread.
void report_callback_failure(const std::exception* error) noexcept;

/// Runs work; whatever it throws is logged and goes no further, so a failing callback ends neither
/// the worker thread that runs it nor the process.
template <typename Work> void run_guarded(Work&& work) noexcept
{
    try
    {
        work();
    }
    catch (const std::exception& error)
    {
        report_callback_failure(&error);
    }
    catch (...)
    {
        report_callback_failure(nullptr);
    }
}

} // namespace kest::com::internal
