#pragma once

#include "statemanager/fast_shutdown/fast_shutdown_handler_interface.hpp"

#include <chrono>
#include <string>
#include <sys/types.h>

namespace vela::ap::statemanager::fast_shutdown
{

/// Owns the power-management daemon's command pipe and sends it the three text commands: look
/// the daemon up, terminate it, power off after a given time. The pipe is opened once,
/// non-blocking: nobody reading it makes the handler unusable, and a full pipe makes a write
/// fail or come out short instead of waiting. Failures are only logged. Main thread only.
class Fast_shutdown_handler final : public Fast_shutdown_handler_interface
{
  public:
    /// The power-management daemon's command pipe.
    static constexpr const char* s_default_path = "/run/adaptive/poweroff";

    /// Opens path write-only and non-blocking; when that fails the error is logged and the
    /// handler stays unusable (is_possible() false).
    explicit Fast_shutdown_handler(std::string path = s_default_path);
    ~Fast_shutdown_handler() override;

    Fast_shutdown_handler(const Fast_shutdown_handler&) = delete;
    Fast_shutdown_handler& operator=(const Fast_shutdown_handler&) = delete;

    /// Sends "lookup pmx_per_daemon\n".
    void process_lookup() const override;
    /// When possible: sends "terminate\n", then "poweroff <ms>\n".
    void start_fast_shutdown(std::chrono::milliseconds timeout) const override;
    bool is_possible() const override;

    /// Sends "terminate\n".
    void shutdown_pm() const;
    /// Sends "poweroff " with the milliseconds in signed decimal and a newline.
    void call_exit_app(std::chrono::milliseconds timeout) const;
    /// Sends command with one write and reports the outcome through write_info().
    void write_command(const std::string& command) const;
    /// Logs the outcome of a write of command that returned written; after a short write the
    /// remaining bytes are written once more, with one write.
    void write_info(ssize_t written, const std::string& command) const;

  private:
    /// One write(2) to the pipe. A reader that went away gives EPIPE, never a SIGPIPE that
    /// would end the daemon.
    ssize_t write_once(const char* data, std::size_t size) const;

    std::string m_path;
    int m_fd{-1};
    bool m_usable{false};
};

} // namespace vela::ap::statemanager::fast_shutdown
